// The request reader must assemble the same requests however the connection's bytes
// are cut into reads: the whole stream in one piece is the reference for a run fed in
// pieces whose sizes come from the first eight input bytes.
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "http/HTTPRequestReader.h"

namespace Fuzz {

namespace {

struct Assembled {
    std::string firstLine;
    std::string fields;
    std::string body;
    bool operator==(const Assembled&) const = default;
};

struct Outcome {
    std::vector<Assembled> requests;
    bool failed = false;
};

void takeComplete(HTTPParser::HTTPRequestReader& reader, Outcome& outcome) {
    while (reader.isComplete()) {
        HTTPParser::HTTPRequest request;
        FUZZ_CHECK(reader.buildRequest(request));
        const HTTPParser::IOB& body = request.getBody();
        outcome.requests.push_back({request.getFirstLine(), request.headers().serialize(),
                                    std::string(body.chars(), body.length())});
        reader.nextRequest();
    }
}

Outcome readInPieces(const std::string& stream, const uint8_t pattern[8]) {
    HTTPParser::HTTPRequestReader reader;
    Outcome outcome;
    size_t at = 0;
    for (size_t piece = 0; at < stream.size() && !reader.isFailed(); ++piece) {
        // A zero in the pattern means "the rest at once"; others give 1..32 bytes.
        const uint8_t code = pattern[piece % 8];
        size_t n = code == 0 ? stream.size() - at : size_t(code % 32) + 1;
        if (n > stream.size() - at)
            n = stream.size() - at;
        reader.feed(stream.data() + at, int(n));
        reader.takeContinueRequest();
        at += n;
        takeComplete(reader, outcome);
    }
    outcome.failed = reader.isFailed();
    // A reader with nothing complete must never claim to hold a request.
    HTTPParser::HTTPRequest unused;
    FUZZ_CHECK(!reader.buildRequest(unused));
    return outcome;
}

}  // namespace

int requestReaderTarget(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    uint8_t pattern[8];
    for (uint8_t& code : pattern)
        code = input.takeByte();
    const std::string stream = input.takeRest();

    const uint8_t whole[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    Outcome reference = readInPieces(stream, whole);
    Outcome pieces = readInPieces(stream, pattern);
    FUZZ_CHECK(pieces.failed == reference.failed);
    FUZZ_CHECK(pieces.requests.size() == reference.requests.size());
    for (size_t i = 0; i < reference.requests.size(); ++i)
        FUZZ_CHECK(pieces.requests[i] == reference.requests[i]);
    return 0;
}

}  // namespace Fuzz
