// Whole messages with transfer and content codings: parsing never fails on content,
// and a parsed message written out again parses back to the same body.
#include <algorithm>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"
#include "http/HTTPRequest.h"
#include "http/MessageFraming.h"

namespace Fuzz {

namespace {

std::string text(const HTTPParser::IOB& buffer) {
    return std::string(buffer.chars(), buffer.length());
}

// The head up to and with its empty line, or all of the input when it has none.
size_t headLength(const uint8_t* data, size_t size) {
    const std::string message(reinterpret_cast<const char*>(data), size);
    const size_t crlf = message.find("\n\r\n");
    const size_t lf = message.find("\n\n");
    const size_t end = std::min(crlf == std::string::npos ? size : crlf + 3,
                                lf == std::string::npos ? size : lf + 2);
    return end;
}

}  // namespace

int httpObjectTarget(const uint8_t* data, size_t size) {
    HTTPParser::IOB message;
    if (size == 0 || !message.append(data, uint32_t(size)))
        return 0;
    HTTPParser::HTTPRequest first;
    FUZZ_CHECK(first.parse(message));
    const std::string body = text(first.getBody());
    // Parsing left the body with its terminating zero byte.
    FUZZ_CHECK(first.getBody().length() == 0 || first.getBody().data()[body.size()] == 0);

    // The server refuses a head whose fields readers could split differently (a NUL, a bare
    // CR, a line without a colon) before it is parsed, so only heads it reads need to keep
    // their body through a round trip.
    if (!HTTPParser::headIsWellFormed(reinterpret_cast<const char*>(data),
                                      uint32_t(headLength(data, size))))
        return 0;

    HTTPParser::IOB written;
    if (!first.serialize(written))
        return 0;
    HTTPParser::HTTPRequest second;
    FUZZ_CHECK(second.parse(written));
    FUZZ_CHECK(text(second.getBody()) == body);
    return 0;
}

}  // namespace Fuzz
