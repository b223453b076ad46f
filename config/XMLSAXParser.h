#pragma once

#include <string>
#include <vector>

namespace XML {

class Attributes;
class ContentHandler;

// Reads a whole document and reports its constructs to a content handler. It checks only
// that end tags match start tags; it is just large enough for our configuration file:
// bytes are bytes, no DOCTYPE, no CDATA, no character references, no namespaces, and
// entities are decoded in attribute names and values only.
class SAXParser {
  public:
    static constexpr int kTagMismatch = -1;

    SAXParser() = default;

    void setContentHandler(ContentHandler* handler) { handler_ = handler; }

    bool parseFile(const std::string& path);
    bool parseString(const std::string& text);

    // Code 0 and an empty message unless the last parse failed on a mismatched end tag.
    int lastErrorCode() const { return errorCode_; }
    const std::string& lastErrorMessage() const { return errorMessage_; }
    // Where in the text the last failed parse stopped: the start of the construct it could
    // not read (the text's size when it was empty).
    size_t lastErrorOffset() const { return errorOffset_; }
    // After a parse that succeeded: the elements the text left open, outermost first. A
    // document that breaks off between two tags still parses; this tells it apart.
    const std::vector<std::string>& openElements() const { return openElements_; }

  private:
    bool parseDocument(const std::string& text, size_t& pos);
    // Each step returns false on a syntax error and otherwise moves pos past what it read.
    bool parseEndTag(const std::string& text, size_t& pos);
    bool parseStartTag(const std::string& text, size_t& pos);
    bool parseCharacters(const std::string& text, size_t& pos);
    static bool parseAttribute(const std::string& text, size_t& pos, size_t tagEnd,
                               Attributes& attributes);

    ContentHandler* handler_ = nullptr;
    std::vector<std::string> openElements_;
    int errorCode_ = 0;
    std::string errorMessage_;
    size_t errorOffset_ = 0;
};

}  // namespace XML
