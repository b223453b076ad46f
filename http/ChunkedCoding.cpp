#include "http/ChunkedCoding.h"

#include <cstdio>
#include <cstring>

#include "http/MessageText.h"

namespace HTTPParser {

namespace {

constexpr uint32_t kChunkSize = 256;

// Reads the size at the start of a chunk line (leading blanks skipped, stops at the
// first non-hex byte so extensions are ignored). A sign or a size no buffer could
// hold is malformed.
bool readChunkSize(const char* line, uint32_t lineLength, uint64_t* size) {
    uint32_t i = 0;
    while (i < lineLength && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i < lineLength && (line[i] == '-' || line[i] == '+'))
        return false;
    uint64_t value = 0;
    for (; i < lineLength; ++i) {
        int digit = hexDigitValue(line[i]);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > IOB::kDefaultLengthLimit)
            return false;
    }
    *size = value;
    return true;
}

}  // namespace

int scanChunked(const char* data, uint32_t length, uint32_t* position, IOB* out) {
    uint32_t i = *position;
    while (i < length) {
        const void* found = std::memchr(data + i, '\n', length - i);
        if (found == nullptr)
            return kChunkIncompleteLine;
        uint32_t lineFeed = static_cast<uint32_t>(static_cast<const char*>(found) - data);
        uint64_t size = 0;
        if (!readChunkSize(data + i, lineFeed - i, &size))
            return kChunkMalformed;
        uint64_t dataStart = uint64_t(lineFeed) + 1;
        if (size == 0) {
            *position = static_cast<uint32_t>(dataStart);
            return kChunkComplete;
        }
        uint64_t end = dataStart + size;
        if (end > length)
            return kChunkIncompleteData;
        // The chunk counts as taken only once its CR LF is there, so a resumed
        // scan never starts inside chunk data nor appends a chunk twice.
        if (end + 2 > length)
            return kChunkIncompleteLine;
        if (out != nullptr && !out->append(data + dataStart, static_cast<uint32_t>(size))) {
            return kChunkMalformed;
        }
        i = static_cast<uint32_t>(end + 2);
        *position = i;
    }
    return kChunkIncompleteLine;
}

int decodeChunked(const char* data, int length, IOB* out) {
    if (data == nullptr || length < 0)
        return kChunkIncompleteLine;
    uint32_t position = 0;
    return scanChunked(data, static_cast<uint32_t>(length), &position, out);
}

bool findTrailerEnd(const char* data, uint32_t length, uint32_t start, uint32_t* end) {
    uint32_t i = start;
    while (i < length) {
        const void* found = std::memchr(data + i, '\n', length - i);
        if (found == nullptr)
            return false;
        uint32_t lineFeed = static_cast<uint32_t>(static_cast<const char*>(found) - data);
        bool emptyLine = lineFeed == i || (lineFeed == i + 1 && data[i] == '\r');
        i = lineFeed + 1;
        if (emptyLine) {
            *end = i;
            return true;
        }
    }
    return false;
}

bool encodeChunked(const IOB& body, IOB& out) {
    const char* bytes = body.chars();
    uint32_t remaining = body.length();
    char sizeLine[16];
    while (remaining > 0) {
        uint32_t piece = remaining < kChunkSize ? remaining : kChunkSize;
        int n = std::snprintf(sizeLine, sizeof sizeLine, "%x\r\n", piece);
        if (!out.append(sizeLine, static_cast<uint32_t>(n)) || !out.append(bytes, piece) ||
            !out.append("\r\n", 2)) {
            return false;
        }
        bytes += piece;
        remaining -= piece;
    }
    return out.append("0\r\n\r\n", 5);
}

}  // namespace HTTPParser
