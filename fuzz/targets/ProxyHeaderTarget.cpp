// PROXY headers: bytes fed in any pieces must be read exactly as when fed at once, a header
// never takes more bytes than its version allows, and a carried address reads back as the
// same bytes. The gate in front of an untrusted peer must pass every byte on, in order.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "net/ProxyGate.h"
#include "net/ProxyHeader.h"

namespace Fuzz {

namespace {

void checkSameReading(const ProxyHeader& a, const ProxyHeader& b) {
    FUZZ_CHECK(a.state() == b.state());
    FUZZ_CHECK(a.version() == b.version());
    FUZZ_CHECK(a.source() == b.source());
    if (a.state() == ProxyHeader::State::Done && a.source() != ProxyHeader::Source::None) {
        FUZZ_CHECK(a.sourceBytes() == b.sourceBytes());
        FUZZ_CHECK(a.sourcePort() == b.sourcePort());
    }
}

void checkAddressReadsBack(const ProxyHeader& header) {
    if (header.state() != ProxyHeader::State::Done ||
        header.source() == ProxyHeader::Source::None) {
        return;
    }
    const std::string text = header.sourceText();
    FUZZ_CHECK(!text.empty());
    uint8_t again[16] = {};
    // An IPv4-mapped IPv6 source is written as its IPv4 address: its last four bytes.
    const bool v4 = header.source() == ProxyHeader::Source::IPv4;
    const bool writtenAsV4 = text.find(':') == std::string::npos;
    const size_t from = v4 || !writtenAsV4 ? 0 : 12;
    FUZZ_CHECK(::inet_pton(writtenAsV4 ? AF_INET : AF_INET6, text.c_str(), again) == 1);
    FUZZ_CHECK(std::memcmp(again, header.sourceBytes().data() + from, writtenAsV4 ? 4 : 16) == 0);
}

// Everything an untrusted peer sends reaches the reader unless it begins with a signature.
void checkGatePassesBytesOn(const std::string& bytes, size_t step) {
    ProxyGate gate;
    std::string passed;
    ProxyGate::Outcome outcome = ProxyGate::Outcome::Waiting;
    for (size_t offset = 0; offset < bytes.size() && !gate.isDecided(); offset += step) {
        const size_t length = std::min(step, bytes.size() - offset);
        size_t used = 0;
        outcome = gate.feed(bytes.data() + offset, length, used);
        FUZZ_CHECK(used <= length);
        if (outcome == ProxyGate::Outcome::Passed) {
            passed.assign(gate.held());
            passed.append(bytes, offset + used, std::string::npos);
        }
    }
    if (outcome == ProxyGate::Outcome::Passed)
        FUZZ_CHECK(passed == bytes);
    if (outcome == ProxyGate::Outcome::Refused)
        FUZZ_CHECK(ProxyHeader::beginsHeader(bytes.data(), bytes.size()) ==
                   ProxyHeader::Match::Yes);
}

}  // namespace

int proxyHeaderTarget(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t step = size_t(input.takeByte() % 16) + 1;
    const std::string bytes = input.takeRest();

    ProxyHeader whole;
    const size_t used = whole.feed(bytes.data(), bytes.size());
    FUZZ_CHECK(used <= bytes.size());
    if (whole.state() == ProxyHeader::State::Reading)
        FUZZ_CHECK(used == bytes.size());
    if (whole.version() == 1)
        FUZZ_CHECK(used <= ProxyHeader::kMaxLineLength);
    if (whole.version() == 2)
        FUZZ_CHECK(used <= ProxyHeader::kFixedPartLength + 65535);
    checkAddressReadsBack(whole);

    ProxyHeader pieces;
    size_t usedInPieces = 0;
    for (size_t offset = 0; offset < bytes.size(); offset += step) {
        const size_t length = std::min(step, bytes.size() - offset);
        const size_t taken = pieces.feed(bytes.data() + offset, length);
        FUZZ_CHECK(taken <= length);
        usedInPieces += taken;
        if (pieces.state() != ProxyHeader::State::Reading)
            break;
        FUZZ_CHECK(taken == length);
    }
    checkSameReading(whole, pieces);
    // A failed header may stop at a different byte only in that it stops at its first fault.
    FUZZ_CHECK(usedInPieces == used);

    checkGatePassesBytesOn(bytes, step);
    return 0;
}

}  // namespace Fuzz
