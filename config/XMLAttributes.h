#pragma once

#include <string>
#include <utility>
#include <vector>

namespace XML {

// The attributes of one start tag in document order; duplicate names stay separate entries.
class Attributes {
  public:
    Attributes() = default;
    virtual ~Attributes();

    void add(std::string name, std::string value);
    void clear() { entries_.clear(); }

    int count() const { return static_cast<int>(entries_.size()); }
    // Null for an index outside 0..count()-1.
    const char* nameAt(int index) const;
    const char* valueAt(int index) const;

  private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace XML
