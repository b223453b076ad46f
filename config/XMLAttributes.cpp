#include "config/XMLAttributes.h"

namespace XML {

Attributes::~Attributes() = default;

void Attributes::add(std::string name, std::string value) {
    entries_.emplace_back(std::move(name), std::move(value));
}

const char* Attributes::nameAt(int index) const {
    if (index < 0 || index >= count())
        return nullptr;
    return entries_[static_cast<size_t>(index)].first.c_str();
}

const char* Attributes::valueAt(int index) const {
    if (index < 0 || index >= count())
        return nullptr;
    return entries_[static_cast<size_t>(index)].second.c_str();
}

}  // namespace XML
