#include "http/MessageText.h"

#include <cstring>

namespace HTTPParser {

std::string readLine(const char* data, uint32_t length, uint32_t& position) {
    uint32_t start = position;
    const void* found =
        position < length ? std::memchr(data + start, '\n', length - start) : nullptr;
    if (found == nullptr) {
        position = length;
        return std::string(data + start, length - start);
    }
    uint32_t lineFeed = static_cast<uint32_t>(static_cast<const char*>(found) - data);
    position = lineFeed + 1;
    // Only a CR before the LF belongs to the line end; a bare-LF line keeps all its bytes.
    uint32_t end = lineFeed > start && data[lineFeed - 1] == '\r' ? lineFeed - 1 : lineFeed;
    return std::string(data + start, end - start);
}

uint32_t readHead(const char* data, uint32_t length, std::string& firstLine, Header& fields) {
    uint32_t position = 0;
    firstLine = readLine(data, length, position);
    while (position < length) {
        std::string line = readLine(data, length, position);
        if (line.empty())
            break;
        if (!fields.parseLine(line))
            break;
    }
    return position;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && Header::lowerCase(a) == Header::lowerCase(b);
}

}  // namespace HTTPParser
