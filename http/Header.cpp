#include "http/Header.h"

namespace HTTPParser {

namespace {

bool isSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}
bool isWhite(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string HeaderField::getValue() const {
    size_t begin = 0;
    while (begin < value.size() && isWhite(value[begin]))
        ++begin;
    std::string result;
    result.reserve(value.size() - begin);
    for (size_t i = begin; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
            ++i;
            continue;
        }
        result.push_back(value[i]);
    }
    while (!result.empty() && isWhite(result.back()))
        result.pop_back();
    return result;
}

std::string Header::lowerCase(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

void Header::add(const std::string& name, const std::string& value, bool atFront) {
    FieldList::iterator position =
        fields_.insert(atFront ? fields_.begin() : fields_.end(), HeaderField{name, value});
    index_.emplace(lowerCase(name), position);
}

HeaderField* Header::find(const std::string& name) {
    auto entry = index_.find(lowerCase(name));
    return entry == index_.end() ? nullptr : &*entry->second;
}

const HeaderField* Header::find(const std::string& name) const {
    auto entry = index_.find(lowerCase(name));
    return entry == index_.end() ? nullptr : &*entry->second;
}

void Header::remove(const std::string& name) {
    auto range = index_.equal_range(lowerCase(name));
    for (auto entry = range.first; entry != range.second; ++entry)
        fields_.erase(entry->second);
    index_.erase(range.first, range.second);
}

bool Header::parseLine(const std::string& line) {
    if (line.empty())
        return true;
    if (!fields_.empty() && isSpaceOrTab(line[0])) {
        fields_.back().value += "\r\n" + line;
        return true;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    size_t valueStart = colon + 1;
    while (valueStart < line.size() && isSpaceOrTab(line[valueStart]))
        ++valueStart;
    add(line.substr(0, colon), line.substr(valueStart));
    return true;
}

std::string Header::serialize() const {
    std::string text;
    text.reserve(fields_.size() * 60);
    for (const HeaderField& field : fields_) {
        text += field.name;
        text += ": ";
        text += field.value;
        text += "\r\n";
    }
    return text;
}

void Header::assign(const Header& other) {
    if (this == &other)
        return;
    clear();
    for (const HeaderField& field : other.fields_)
        add(field.name, field.value);
}

void Header::clear() {
    index_.clear();
    fields_.clear();
}

}  // namespace HTTPParser
