#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ResMgr {

// A sectioned key=value text file. A line "[name]" opens a section; lines of a section are
// kept as written (without line ends). Lines before the first section, blank lines and
// lines starting with ';' belong to no section.
class ProfileFile {
  public:
    // Parses the text; a missing file gives an empty profile.
    void parse(const std::string& text);

    // Section names in the order the file gives them.
    std::vector<std::string> sectionNames() const;
    // The lines of every section with this name, matched without regard to ASCII case,
    // in file order.
    std::vector<std::string> sectionLines(const std::string& name) const;

    // Splits "key=value" at the first "=": the key is the line's leading decimal number.
    // False for a line without "=".
    static bool splitLine(const std::string& line, int& key, std::string& value);
    // "\n" becomes a line feed, then "\t" a tab; other backslashes stay.
    static std::string unescape(const std::string& value);

  private:
    std::vector<std::pair<std::string, std::vector<std::string>>> sections_;
};

bool equalsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace ResMgr
