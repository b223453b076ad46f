#pragma once

#include <map>
#include <string>

namespace XML {

class Attributes;

// An element as the reader's hooks see it: its name and its attributes by name.
class Element {
  public:
    Element() = default;
    explicit Element(std::string name) : name_(std::move(name)) {}
    // Of duplicate attribute names the first one counts.
    Element(std::string name, const Attributes& attributes);

    const std::string& name() const { return name_; }
    const std::map<std::string, std::string>& attributes() const { return attributes_; }

    // The value, or the empty string when absent. True only for a non-empty value:
    // an attribute written as name="" counts as missing.
    bool attribute(const std::string& name, std::string& value) const;

  private:
    std::string name_;
    std::map<std::string, std::string> attributes_;
};

}  // namespace XML
