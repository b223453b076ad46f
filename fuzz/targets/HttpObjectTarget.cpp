// Whole messages with transfer and content codings: parsing never fails on content,
// and a parsed message written out again parses back to the same body.
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"
#include "http/HTTPRequest.h"

namespace Fuzz {

namespace {

std::string text(const HTTPParser::IOB& buffer) {
    return std::string(buffer.chars(), buffer.length());
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

    HTTPParser::IOB written;
    if (!first.serialize(written))
        return 0;
    HTTPParser::HTTPRequest second;
    FUZZ_CHECK(second.parse(written));
    FUZZ_CHECK(text(second.getBody()) == body);
    return 0;
}

}  // namespace Fuzz
