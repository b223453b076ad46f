#include "http/MessageFraming.h"

#include <cstring>
#include <string>
#include <vector>

#include "http/MessageText.h"
#include "platform/NumberText.h"

namespace HTTPParser {

namespace {

const char kTransferEncoding[] = "transfer-encoding";
const char kContentLength[] = "content-length";

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// Every comma-separated item of every field of that name, trimmed, empty items dropped.
std::vector<std::string> listItems(const Header& fields, const std::string& name) {
    std::vector<std::string> items;
    // The indexed look-up first: most requests carry none of these fields.
    if (fields.find(name) == nullptr)
        return items;
    std::string lowerName = Header::lowerCase(name);
    for (const HeaderField& field : fields.fields()) {
        if (Header::lowerCase(field.name) != lowerName)
            continue;
        size_t from = 0;
        for (;;) {
            size_t comma = field.value.find(',', from);
            std::string item = trimmed(field.value.substr(
                from, comma == std::string::npos ? std::string::npos : comma - from));
            if (!item.empty())
                items.push_back(item);
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
    }
    return items;
}

bool hasField(const Header& fields, const char* name) {
    return fields.find(name) != nullptr;
}

bool isTokenChar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isFieldLineWellFormed(const char* line, uint32_t length, bool afterField) {
    if (line[0] == ' ' || line[0] == '\t')
        return afterField;  // a folded continuation of the field before it
    uint32_t colon = 0;
    while (colon < length && isTokenChar(static_cast<unsigned char>(line[colon])))
        ++colon;
    return colon > 0 && colon < length && line[colon] == ':';
}

}  // namespace

bool hasListToken(const Header& fields, const std::string& name, const std::string& token) {
    for (const std::string& item : listItems(fields, name)) {
        if (equalsIgnoringCase(item, token))
            return true;
    }
    return false;
}

bool lastCodingIsChunked(const Header& fields) {
    std::vector<std::string> codings = listItems(fields, kTransferEncoding);
    if (codings.empty() || !equalsIgnoringCase(codings.back(), "chunked"))
        return false;
    for (size_t i = 0; i + 1 < codings.size(); ++i) {
        if (equalsIgnoringCase(codings[i], "chunked"))
            return false;
    }
    return true;
}

bool headIsWellFormed(const char* data, uint32_t length) {
    bool requestLine = true;
    bool afterField = false;
    uint32_t lineStart = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == '\0')
            return false;
        if (c == '\r' && (i + 1 >= length || data[i + 1] != '\n'))
            return false;
        if (c != '\n')
            continue;
        const uint32_t lineEnd = i > lineStart && data[i - 1] == '\r' ? i - 1 : i;
        if (!requestLine && lineEnd > lineStart) {
            if (!isFieldLineWellFormed(data + lineStart, lineEnd - lineStart, afterField))
                return false;
            afterField = true;
        }
        requestLine = false;
        lineStart = i + 1;
    }
    return true;
}

MessageFraming readFraming(const Header& fields) {
    MessageFraming framing;
    bool transfer = hasField(fields, kTransferEncoding);
    bool length = hasField(fields, kContentLength);
    if (transfer) {
        framing.kind = lastCodingIsChunked(fields) && !length ? MessageFraming::Chunked
                                                              : MessageFraming::Invalid;
        return framing;
    }
    if (!length)
        return framing;
    std::vector<std::string> values = listItems(fields, kContentLength);
    int64_t value = values.empty() ? 0 : leadingNumber64(values.front());
    for (const std::string& other : values) {
        if (leadingNumber64(other) != value) {
            framing.kind = MessageFraming::Invalid;
            return framing;
        }
    }
    framing.kind = MessageFraming::Length;
    framing.contentLength = value;
    return framing;
}

}  // namespace HTTPParser
