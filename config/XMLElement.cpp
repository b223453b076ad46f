#include "config/XMLElement.h"

#include "config/XMLAttributes.h"

namespace XML {

Element::Element(std::string name, const Attributes& attributes) : name_(std::move(name)) {
    for (int i = 0; i < attributes.count(); ++i) {
        attributes_.emplace(attributes.nameAt(i), attributes.valueAt(i));
    }
}

bool Element::attribute(const std::string& name, std::string& value) const {
    auto found = attributes_.find(name);
    value = found == attributes_.end() ? std::string() : found->second;
    return !value.empty();
}

}  // namespace XML
