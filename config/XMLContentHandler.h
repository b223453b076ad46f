#pragma once

#include <cstddef>

namespace XML {

class Attributes;

// Receiver of what the parser finds. The order of the operations below is part of the
// interface (derived readers add their own hooks after them); do not reorder.
class ContentHandler {
  public:
    virtual ~ContentHandler();

    virtual void characters(const char* bytes, size_t length) = 0;
    virtual void endDocument() = 0;
    // Only the name is set; the first and last arguments are always null.
    virtual void endElement(const char* namespaceUri, const char* name,
                            const char* qualifiedName) = 0;
    // Never called by our parser; kept for the interface's layout.
    virtual void ignorableWhitespace(const char* bytes, size_t length) = 0;
    virtual void processingInstruction(const char* target, const char* data) = 0;
    virtual void startDocument() = 0;
    // Only the name and the attributes are set; the other two arguments are always null.
    virtual void startElement(const char* namespaceUri, const char* name, const char* qualifiedName,
                              const Attributes& attributes) = 0;
    // Never called by our parser; kept for the interface's layout.
    virtual void startPrefixMapping(const char* prefix, const char* uri) = 0;
    virtual void endPrefixMapping(const char* prefix) = 0;
};

}  // namespace XML
