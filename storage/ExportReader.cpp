#include "storage/ExportReader.h"

#include <cstring>
#include <limits>

#include "storage/MessageDescriptor.h"

namespace {

using ExportFormat::Section;

// A cursor over one line; the grammar is JSON's, narrowed to what the format writes.
struct Cursor {
    const char* at;
    const char* end;

    bool done() const { return at == end; }
    char peek() const { return at == end ? '\0' : *at; }
    void skipBlanks() {
        while (at != end && (*at == ' ' || *at == '\t'))
            ++at;
    }
    bool take(char c) {
        skipBlanks();
        if (at == end || *at != c)
            return false;
        ++at;
        return true;
    }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Names and strings are plain printable ASCII: the format writes no escapes.
bool parseString(Cursor& cursor, std::string_view& text, std::string& why) {
    cursor.skipBlanks();
    if (!cursor.take('"')) {
        why = "a quoted name was expected";
        return false;
    }
    const char* start = cursor.at;
    while (!cursor.done() && *cursor.at != '"') {
        const auto c = static_cast<unsigned char>(*cursor.at);
        if (c < 0x20 || c > 0x7e || c == '\\') {
            why = "a string holds an escape, a control byte or a non-ASCII byte";
            return false;
        }
        ++cursor.at;
    }
    if (cursor.done()) {
        why = "a string is not closed";
        return false;
    }
    text = std::string_view(start, size_t(cursor.at - start));
    ++cursor.at;
    return true;
}

template <typename Number>
bool parseInteger(Cursor& cursor, Number& number, std::string& why) {
    cursor.skipBlanks();
    number.negative = cursor.peek() == '-';
    if (number.negative)
        ++cursor.at;
    if (!isDigit(cursor.peek())) {
        why = "an integer was expected";
        return false;
    }
    number.magnitude = 0;
    if (*cursor.at == '0') {
        ++cursor.at;
        if (isDigit(cursor.peek())) {
            why = "an integer has a leading zero";
            return false;
        }
    }
    while (isDigit(cursor.peek())) {
        const unsigned digit = unsigned(*cursor.at - '0');
        if (number.magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            why = "an integer is out of range";
            return false;
        }
        number.magnitude = number.magnitude * 10 + digit;
        ++cursor.at;
    }
    const char next = cursor.peek();
    if (next == '.' || next == 'e' || next == 'E') {
        why = "a number is not a whole integer";
        return false;
    }
    return true;
}

bool toInt64(bool negative, uint64_t magnitude, int64_t& value) {
    constexpr uint64_t kLimit = uint64_t(std::numeric_limits<int64_t>::max());
    if (!negative) {
        if (magnitude > kLimit)
            return false;
        value = int64_t(magnitude);
        return true;
    }
    if (magnitude > kLimit + 1)
        return false;
    value = magnitude == kLimit + 1 ? std::numeric_limits<int64_t>::min() : -int64_t(magnitude);
    return true;
}

bool toUnsigned(bool negative, uint64_t magnitude, uint64_t limit, uint64_t& value) {
    if ((negative && magnitude != 0) || magnitude > limit)
        return false;
    value = magnitude;
    return true;
}

std::string quoted(std::string_view text) {
    constexpr size_t kShown = 40;
    std::string out = "\"";
    out.append(text.substr(0, kShown));
    if (text.size() > kShown)
        out += "...";
    return out + "\"";
}

}  // namespace

bool ExportReader::fail(const std::string& why) {
    state_ = State::Failed;
    error_ = "line " + std::to_string(lineNumber_) + ": " + why;
    return false;
}

bool ExportReader::feed(const char* data, size_t size) {
    if (state_ == State::Failed)
        return false;
    const char* end = data + size;
    while (data != end) {
        const char* newline = static_cast<const char*>(std::memchr(data, '\n', size_t(end - data)));
        const char* pieceEnd = newline ? newline : end;
        const size_t piece = size_t(pieceEnd - data);
        if (partial_.size() + piece > ExportFormat::kMaxLineBytes) {
            ++lineNumber_;
            return fail("the line is longer than " + std::to_string(ExportFormat::kMaxLineBytes) +
                        " bytes");
        }
        if (!newline) {
            partial_.append(data, piece);
            return true;
        }
        bool ok;
        if (partial_.empty()) {
            ok = takeLine(std::string_view(data, piece));
        } else {
            partial_.append(data, piece);
            ok = takeLine(partial_);
            partial_.clear();
        }
        if (!ok)
            return false;
        data = newline + 1;
    }
    return true;
}

bool ExportReader::finish() {
    if (state_ == State::Failed)
        return false;
    if (!partial_.empty()) {
        // A last line without its line end is taken as it is: its object must be whole.
        std::string last;
        last.swap(partial_);
        if (!takeLine(last))
            return false;
    }
    if (state_ == State::Header) {
        ++lineNumber_;
        return fail("the input is empty");
    }
    if (state_ == State::InSection) {
        ++lineNumber_;
        return fail("the input ends inside the " + std::string(sectionName(section_)) +
                    " section, after " + std::to_string(sectionRecords_) +
                    " records: its end line is missing, so the input was cut short");
    }
    return true;
}

bool ExportReader::takeLine(std::string_view line) {
    ++lineNumber_;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::string why;
    if (!parseObject(line, why) || !dispatch(why))
        return fail(why);
    return true;
}

bool ExportReader::parseObject(std::string_view line, std::string& why) {
    memberCount_ = 0;
    hasValues_ = false;
    values_.clear();
    Cursor cursor{line.data(), line.data() + line.size()};
    if (!cursor.take('{')) {
        why = "a line must be one JSON object";
        return false;
    }
    cursor.skipBlanks();
    if (cursor.peek() != '}') {
        do {
            std::string_view name;
            if (!parseString(cursor, name, why))
                return false;
            if (member(name) != nullptr || (hasValues_ && name == "values")) {
                why = "the field " + quoted(name) + " appears twice";
                return false;
            }
            if (!cursor.take(':')) {
                why = "a ':' was expected after " + quoted(name);
                return false;
            }
            cursor.skipBlanks();
            if (name == "values") {
                if (!cursor.take('[')) {
                    why = "\"values\" must be an array of integers";
                    return false;
                }
                hasValues_ = true;
                cursor.skipBlanks();
                if (cursor.peek() != ']') {
                    do {
                        if (values_.size() == MessageDescriptor::kMaxValues) {
                            why = "a descriptor has more than " +
                                  std::to_string(MessageDescriptor::kMaxValues) + " values";
                            return false;
                        }
                        Integer number;
                        int64_t value;
                        if (!parseInteger(cursor, number, why))
                            return false;
                        if (!toInt64(number.negative, number.magnitude, value)) {
                            why = "a value is out of the signed 64-bit range";
                            return false;
                        }
                        values_.push_back(value);
                    } while (cursor.take(','));
                }
                if (!cursor.take(']')) {
                    why = "an array is not closed where expected";
                    return false;
                }
                continue;
            }
            if (memberCount_ == kMaxMembers) {
                why = "the line has too many fields";
                return false;
            }
            Member& added = members_[memberCount_];
            added = Member();
            added.name = name;
            if (cursor.peek() == '"') {
                added.isString = true;
                if (!parseString(cursor, added.text, why))
                    return false;
            } else if (cursor.peek() == '-' || isDigit(cursor.peek())) {
                if (!parseInteger(cursor, added.number, why))
                    return false;
            } else {
                why = "the field " + quoted(name) + " must hold an integer or a string";
                return false;
            }
            ++memberCount_;
        } while (cursor.take(','));
    }
    if (!cursor.take('}')) {
        why = "a ',' or '}' was expected";
        return false;
    }
    cursor.skipBlanks();
    if (!cursor.done()) {
        why = "something follows the object on its line";
        return false;
    }
    return true;
}

const ExportReader::Member* ExportReader::member(std::string_view name) const {
    for (size_t i = 0; i < memberCount_; ++i) {
        if (members_[i].name == name)
            return &members_[i];
    }
    return nullptr;
}

bool ExportReader::dispatch(std::string& why) {
    if (state_ == State::Header)
        return headerLine(why);
    if (member("section") != nullptr)
        return sectionStartLine(why);
    if (member("end") != nullptr)
        return sectionEndLine(why);
    if (state_ != State::InSection) {
        why = "a section start was expected";
        return false;
    }
    return recordLine(why);
}

bool ExportReader::headerLine(std::string& why) {
    const Member* format = member("format");
    const Member* version = member("version");
    if (format == nullptr || !format->isString || format->text != ExportFormat::kFormatName ||
        memberCount_ != 2 || hasValues_ || version == nullptr || version->isString) {
        why = "this is not a " + std::string(ExportFormat::kFormatName) +
              " file (its first line must name the format and version)";
        return false;
    }
    if (version->number.negative || version->number.magnitude != ExportFormat::kVersion) {
        why = "format version " + std::string(version->number.negative ? "-" : "") +
              std::to_string(version->number.magnitude) + " is not supported (this server reads " +
              std::to_string(ExportFormat::kVersion) + ")";
        return false;
    }
    state_ = State::BetweenSections;
    return true;
}

bool ExportReader::sectionStartLine(std::string& why) {
    if (state_ == State::InSection) {
        why = "a new section starts, but the " + std::string(sectionName(section_)) +
              " section has no end line";
        return false;
    }
    const Member* name = member("section");
    const Member* index = member("index");
    uint64_t at = 0;
    if (memberCount_ != 2 || hasValues_ || index == nullptr || index->isString || !name->isString) {
        why = "a section start holds \"section\" and \"index\" only";
        return false;
    }
    if (!toUnsigned(index->number.negative, index->number.magnitude, UINT32_MAX, at)) {
        why = "the section's index is out of the unsigned 32-bit range";
        return false;
    }
    if (name->text == sectionName(Section::Whitelist)) {
        section_ = Section::Whitelist;
    } else if (name->text == sectionName(Section::TrainingDb)) {
        section_ = Section::TrainingDb;
    } else {
        why = "unknown section " + quoted(name->text);
        return false;
    }
    state_ = State::InSection;
    sectionRecords_ = 0;
    if (!handler_.sectionStart(section_, uint32_t(at))) {
        why = handler_.stopReason();
        return false;
    }
    return true;
}

bool ExportReader::sectionEndLine(std::string& why) {
    const Member* name = member("end");
    const Member* records = member("records");
    if (state_ != State::InSection) {
        why = "a section end without its start";
        return false;
    }
    if (memberCount_ != 2 || hasValues_ || records == nullptr || records->isString ||
        !name->isString || name->text != sectionName(section_)) {
        why = "the end line of the " + std::string(sectionName(section_)) +
              " section must be {\"end\":\"" + std::string(sectionName(section_)) +
              "\",\"records\":N}";
        return false;
    }
    if (records->number.negative || records->number.magnitude != sectionRecords_) {
        why = "the section's end line counts " + std::string(records->number.negative ? "-" : "") +
              std::to_string(records->number.magnitude) + " records, but it held " +
              std::to_string(sectionRecords_);
        return false;
    }
    state_ = State::BetweenSections;
    if (!handler_.sectionEnd(section_, sectionRecords_)) {
        why = handler_.stopReason();
        return false;
    }
    return true;
}

bool ExportReader::recordLine(std::string& why) {
    if (section_ == Section::Whitelist) {
        const Member* key = member("key");
        int64_t value = 0;
        if (key == nullptr || memberCount_ != 1 || hasValues_ || key->isString) {
            why = "a whitelist line holds one integer field, \"key\"";
            return false;
        }
        if (!toInt64(key->number.negative, key->number.magnitude, value)) {
            why = "the key is out of the signed 64-bit range";
            return false;
        }
        ++sectionRecords_;
        if (!handler_.key(value)) {
            why = handler_.stopReason();
            return false;
        }
        return true;
    }
    const Member* label = member("label");
    uint64_t value = 0;
    if (label == nullptr || memberCount_ != 1 || !hasValues_ || label->isString) {
        why = "a training database line holds \"label\" and \"values\" only";
        return false;
    }
    if (!toUnsigned(label->number.negative, label->number.magnitude, UINT32_MAX, value)) {
        why = "the label is out of the unsigned 32-bit range";
        return false;
    }
    ++sectionRecords_;
    if (!handler_.descriptor(uint32_t(value), values_)) {
        why = handler_.stopReason();
        return false;
    }
    return true;
}
