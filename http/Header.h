#pragma once

#include <list>
#include <map>
#include <string>

namespace HTTPParser {

// One header field, name and value exactly as received or given.
struct HeaderField {
    std::string name;
    std::string value;

    // The value without surrounding white space and with folded lines joined.
    std::string getValue() const;
};

// Header fields of one message: kept in message order for writing, found by
// name regardless of ASCII case. Duplicates are allowed; the earliest-added wins.
class Header {
  public:
    Header() = default;
    virtual ~Header() = default;
    Header(const Header& other) { assign(other); }
    Header& operator=(const Header& other) {
        assign(other);
        return *this;
    }

    void add(const std::string& name, const std::string& value, bool atFront = false);
    HeaderField* find(const std::string& name);
    const HeaderField* find(const std::string& name) const;
    void remove(const std::string& name);
    // Adds one received header line; false ends the header block (no usable colon).
    bool parseLine(const std::string& line);
    std::string serialize() const;
    void assign(const Header& other);
    void clear();

    const std::list<HeaderField>& fields() const { return fields_; }
    size_t size() const { return fields_.size(); }

    static std::string lowerCase(const std::string& text);

  private:
    using FieldList = std::list<HeaderField>;
    FieldList fields_;
    // multimap keeps equal keys in insertion order, so the first entry is the earliest add.
    std::multimap<std::string, FieldList::iterator> index_;
};

}  // namespace HTTPParser
