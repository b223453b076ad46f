// Chunked bodies: a scan resumed as bytes trickle in must decode exactly what one scan
// of the whole buffer decodes, and whatever the encoder writes must decode to itself.
#include <algorithm>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "http/ChunkedCoding.h"

namespace Fuzz {

namespace {

std::string text(const HTTPParser::IOB& buffer) {
    return std::string(buffer.chars(), buffer.length());
}

}  // namespace

int chunkedTarget(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t step = size_t(input.takeByte() % 16) + 1;
    const std::string bytes = input.takeRest();

    HTTPParser::IOB whole;
    const int wholeResult = HTTPParser::decodeChunked(bytes.data(), int(bytes.size()), &whole);
    FUZZ_CHECK(wholeResult >= HTTPParser::kChunkMalformed &&
               wholeResult <= HTTPParser::kChunkComplete);

    HTTPParser::IOB resumed;
    uint32_t position = 0;
    int result = HTTPParser::kChunkIncompleteLine;
    for (size_t available = 0; available < bytes.size();) {
        available = std::min(bytes.size(), available + step);
        result = HTTPParser::scanChunked(bytes.data(), uint32_t(available), &position, &resumed);
        FUZZ_CHECK(position <= available);
        if (result == HTTPParser::kChunkMalformed || result == HTTPParser::kChunkComplete)
            break;
    }
    if (!bytes.empty()) {
        FUZZ_CHECK(result == wholeResult);
        FUZZ_CHECK(text(resumed) == text(whole));
    }

    // The encoder's output for these bytes as a body decodes back to them.
    HTTPParser::IOB body;
    HTTPParser::IOB encoded;
    HTTPParser::IOB decoded;
    if (!bytes.empty())
        FUZZ_CHECK(body.append(bytes.data(), uint32_t(bytes.size())));
    FUZZ_CHECK(HTTPParser::encodeChunked(body, encoded));
    FUZZ_CHECK(HTTPParser::decodeChunked(encoded.chars(), int(encoded.length()), &decoded) ==
               HTTPParser::kChunkComplete);
    FUZZ_CHECK(text(decoded) == bytes);
    return 0;
}

}  // namespace Fuzz
