#include "http/MessageFraming.h"

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
