#include "config/XMLSAXReader.h"

namespace XML {

SAXReader::~SAXReader() = default;

void SAXReader::characters(const char* bytes, size_t length) {
    if (delegate_ != nullptr) {
        delegate_->characters(bytes, length);
        return;
    }
    text_.assign(bytes, length);
}

void SAXReader::startElement(const char* namespaceUri, const char* name, const char* qualifiedName,
                             const Attributes& attributes) {
    if (delegate_ != nullptr) {
        delegate_->startElement(namespaceUri, name, qualifiedName, attributes);
        return;
    }
    text_.clear();
    Element element(name, attributes);
    onElementStart(element);
    if (delegate_ != nullptr) {
        delegate_->startElement(namespaceUri, name, qualifiedName, attributes);
    }
}

void SAXReader::endElement(const char* namespaceUri, const char* name, const char* qualifiedName) {
    if (delegate_ != nullptr) {
        delegate_->endElement(namespaceUri, name, qualifiedName);
        if (delegatedElement_.name() == name) {
            Element done = std::move(delegatedElement_);
            delegate_ = nullptr;
            delegatedElement_ = Element();
            onChildDone(done);
        }
        return;
    }
    onElementText(Element(name));
}

void SAXReader::onElementText(const Element&) {}
void SAXReader::onElementStart(const Element&) {}
void SAXReader::onChildDone(const Element&) {}

void SAXReader::delegateTo(ContentHandler* handler, const Element& element) {
    delegate_ = handler;
    delegatedElement_ = element;
}

}  // namespace XML
