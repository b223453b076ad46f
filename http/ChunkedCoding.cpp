#include "http/ChunkedCoding.h"

#include <cstdio>
#include <cstring>

#include "http/MessageText.h"
#include "platform/NumberText.h"

namespace HTTPParser {

namespace {

constexpr uint32_t kChunkSize = 256;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads the size at the start of a chunk line (leading blanks skipped). After the
// hex digits only blanks, an extension after ";" or the line's CR may follow. A line
// without digits, with a sign or other bytes behind the digits, or with a size no
// buffer could hold is malformed: two readers could disagree about where it ends.
bool readChunkSize(const char* line, uint32_t lineLength, uint64_t* size) {
    if (lineLength > 0 && line[lineLength - 1] == '\r')
        --lineLength;
    uint32_t i = 0;
    while (i < lineLength && isBlank(line[i]))
        ++i;
    uint64_t value = 0;
    uint32_t digits = 0;
    for (; i < lineLength; ++i, ++digits) {
        int digit = hexDigitValue(line[i]);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > IOB::kDefaultLengthLimit)
            return false;
    }
    if (digits == 0)
        return false;
    while (i < lineLength && isBlank(line[i]))
        ++i;
    if (i < lineLength && line[i] != ';')
        return false;
    *size = value;
    return true;
}

// The line break behind a chunk's data: CR LF, or a bare LF. Returns its length,
// 0 when it is something else, -1 when its bytes have not all arrived.
int dataLineBreak(const char* data, uint64_t at, uint32_t length) {
    if (at >= length)
        return -1;
    if (data[at] == '\n')
        return 1;
    if (data[at] != '\r')
        return 0;
    if (at + 1 >= length)
        return -1;
    return data[at + 1] == '\n' ? 2 : 0;
}

}  // namespace

int scanChunked(const char* data, uint32_t length, uint32_t* position, IOB* out) {
    uint32_t i = *position;
    while (i < length) {
        const void* found = std::memchr(data + i, '\n', length - i);
        if (found == nullptr) {
            // A size line cannot be this long; waiting on would only rescan it.
            return length - i > kMaxChunkLineLength ? kChunkMalformed : kChunkIncompleteLine;
        }
        uint32_t lineFeed = static_cast<uint32_t>(static_cast<const char*>(found) - data);
        if (lineFeed - i > kMaxChunkLineLength)
            return kChunkMalformed;
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
        // The chunk counts as taken only once its line break is there, so a resumed
        // scan never starts inside chunk data nor appends a chunk twice.
        int lineBreak = dataLineBreak(data, end, length);
        if (lineBreak < 0)
            return kChunkIncompleteLine;
        if (lineBreak == 0)
            return kChunkMalformed;
        if (out != nullptr && !out->append(data + dataStart, static_cast<uint32_t>(size))) {
            return kChunkMalformed;
        }
        i = static_cast<uint32_t>(end + uint64_t(lineBreak));
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

bool findTrailerEnd(const char* data, uint32_t length, uint32_t* position, uint32_t* end) {
    uint32_t i = *position;
    while (i < length) {
        const void* found = std::memchr(data + i, '\n', length - i);
        if (found == nullptr)
            return false;
        uint32_t lineFeed = static_cast<uint32_t>(static_cast<const char*>(found) - data);
        bool emptyLine = lineFeed == i || (lineFeed == i + 1 && data[i] == '\r');
        i = lineFeed + 1;
        // Whole lines are behind us: the next search starts here, not at the start.
        *position = i;
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
