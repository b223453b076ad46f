#include "apps/VantorSyncAdm/ProfileFile.h"

#include "apps/VantorSyncAdm/NumberText.h"

namespace ResMgr {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

void ProfileFile::parse(const std::string& text) {
    sections_.clear();
    std::vector<std::string>* current = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();

        std::string bare = trimmed(line);
        if (bare.empty() || bare[0] == ';')
            continue;
        if (bare[0] == '[') {
            size_t close = bare.find(']');
            std::string name =
                trimmed(bare.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            sections_.emplace_back(name, std::vector<std::string>());
            current = &sections_.back().second;
            continue;
        }
        if (current != nullptr)
            current->push_back(line);
    }
}

std::vector<std::string> ProfileFile::sectionNames() const {
    std::vector<std::string> names;
    for (const auto& section : sections_)
        names.push_back(section.first);
    return names;
}

std::vector<std::string> ProfileFile::sectionLines(const std::string& name) const {
    std::vector<std::string> lines;
    for (const auto& section : sections_) {
        if (equalsIgnoringCase(section.first, name))
            lines.insert(lines.end(), section.second.begin(), section.second.end());
    }
    return lines;
}

bool ProfileFile::splitLine(const std::string& line, int& key, std::string& value) {
    size_t equals = line.find('=');
    if (equals == std::string::npos)
        return false;
    key = parseLeadingNumber(line.substr(0, equals));
    value = line.substr(equals + 1);
    return true;
}

std::string ProfileFile::unescape(const std::string& value) {
    std::string text = value;
    replaceAll(text, "\\n", "\n");
    replaceAll(text, "\\t", "\t");
    return text;
}

}  // namespace ResMgr
