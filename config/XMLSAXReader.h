#pragma once

#include <string>

#include "config/XMLContentHandler.h"
#include "config/XMLElement.h"

namespace XML {

// Turns parser callbacks into element-level hooks for a subclass: one when an element
// starts (name and attributes), one when it ends (its character data is in text()).
// A hook may hand a whole sub-tree to another handler with delegateTo().
class SAXReader : public ContentHandler {
  public:
    SAXReader() = default;
    ~SAXReader() override;

    void characters(const char* bytes, size_t length) override;
    void endDocument() override {}
    void endElement(const char* namespaceUri, const char* name, const char* qualifiedName) override;
    void ignorableWhitespace(const char*, size_t) override {}
    void processingInstruction(const char*, const char*) override {}
    void startDocument() override {}
    void startElement(const char* namespaceUri, const char* name, const char* qualifiedName,
                      const Attributes& attributes) override;
    void startPrefixMapping(const char*, const char*) override {}
    void endPrefixMapping(const char*) override {}

    // Hooks, after the handler operations above.
    virtual void onElementText(const Element& element);
    virtual void onElementStart(const Element& element);
    virtual void onChildDone(const Element& element);

  protected:
    // The character data of the element that is ending. It is cleared at every start tag,
    // so an element without content reads as empty rather than inheriting earlier text.
    const std::string& text() const { return text_; }

    // From onElementStart: every callback up to and including the end tag of element
    // goes to handler (not owned), then onChildDone(element) is called.
    void delegateTo(ContentHandler* handler, const Element& element);

  private:
    ContentHandler* delegate_ = nullptr;
    Element delegatedElement_;
    std::string text_;
};

}  // namespace XML
