// PROXY headers as proxies send them and as attackers might: what each reads as, and how
// many bytes it takes from the front of the stream. Fed whole and one byte at a time.
#include <gtest/gtest.h>

#include <string>

#include "net/ProxyGate.h"
#include "net/ProxyHeader.h"

namespace {

using State = ProxyHeader::State;

const std::string kSignature("\r\n\r\n\0\r\nQUIT\n", 12);

std::string binary(uint8_t versionCommand, uint8_t family, const std::string& block) {
    std::string header = kSignature;
    header += char(versionCommand);
    header += char(family);
    header += char(block.size() >> 8);
    header += char(block.size() & 0xff);
    return header + block;
}

const std::string kInet4Block("\xc0\x00\x02\x07\xc6\x33\x64\x01\xc7\x38\x42\xe8", 12);
const std::string kInet6Block = std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') +
                                "\x07" + std::string(16, '\x01') +
                                std::string("\x00\x50\x42\xe8", 4);

struct Case {
    const char* name;
    std::string bytes;
    State state;
    std::string source;  // the carried client address, empty for none
    size_t used;         // bytes the header takes; the rest is the client's
};

std::vector<Case> cases() {
    const std::string line4 = "PROXY TCP4 192.0.2.7 198.51.100.1 51000 17080\r\n";
    const std::string longest =
        "PROXY UNKNOWN ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff "
        "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff 65535 65535\r\n";
    return {
        {"v1 TCP4, request behind", line4 + "GET /", State::Done, "192.0.2.7", line4.size()},
        {"v1 TCP6", "PROXY TCP6 2001:db8::7 2001:db8::1 1 2\r\n", State::Done, "2001:db8::7", 40},
        {"v1 UNKNOWN with rest", "PROXY UNKNOWN ignored\r\n", State::Done, "", 23},
        {"v1 longest (107)", longest, State::Done, "", 107},
        {"v1 one byte too long", longest.substr(0, 105) + "5\r\n", State::Failed, "", 107},
        {"v1 bare LF", "PROXY UNKNOWN\n", State::Failed, "", 14},
        {"v1 CR inside", "PROXY TCP4 1.2.3.4\r 5.6.7.8 1 2\r\n", State::Failed, "", 20},
        {"v1 NUL inside", std::string("PROXY TCP4 1.2\0", 15), State::Failed, "", 15},
        {"v1 family mismatch", "PROXY TCP4 ::1 ::1 1 2\r\n", State::Failed, "", 24},
        {"v1 double blank", "PROXY TCP4 1.2.3.4  5.6.7.8 1 2\r\n", State::Failed, "", 33},
        {"v1 port too big", "PROXY TCP4 1.2.3.4 5.6.7.8 65536 2\r\n", State::Failed, "", 36},
        {"v1 port leading zero", "PROXY TCP4 1.2.3.4 5.6.7.8 01 2\r\n", State::Failed, "", 33},
        {"v1 missing port", "PROXY TCP4 1.2.3.4 5.6.7.8 1\r\n", State::Failed, "", 30},
        {"v1 octet 256", "PROXY TCP4 1.2.3.256 5.6.7.8 1 2\r\n", State::Failed, "", 34},
        {"v1 lower case", "proxy TCP4 1.2.3.4 5.6.7.8 1 2\r\n", State::Failed, "", 1},
        {"v1 UDP4", "PROXY UDP4 1.2.3.4 5.6.7.8 1 2\r\n", State::Failed, "", 32},
        {"not a header", "GET / HTTP/1.1\r\n", State::Failed, "", 1},
        {"v2 TCP4", binary(0x21, 0x11, kInet4Block) + "GET", State::Done, "192.0.2.7", 28},
        {"v2 TCP6 with TLVs", binary(0x21, 0x21, kInet6Block + std::string("\x04\x00\x02xy", 5)),
         State::Done, "2001:db8::7", 16 + 36 + 5},
        {"v2 LOCAL with block", binary(0x20, 0x11, kInet4Block), State::Done, "", 28},
        {"v2 LOCAL empty", binary(0x20, 0x00, ""), State::Done, "", 16},
        {"v2 UNSPEC", binary(0x21, 0x00, "abc"), State::Done, "", 19},
        {"v2 UNIX", binary(0x21, 0x31, std::string(216, 'u')), State::Done, "", 232},
        {"v2 version 1", binary(0x11, 0x11, kInet4Block), State::Failed, "", 16},
        {"v2 command 2", binary(0x22, 0x11, kInet4Block), State::Failed, "", 16},
        {"v2 family 4", binary(0x21, 0x41, kInet4Block), State::Failed, "", 16},
        {"v2 transport 3", binary(0x21, 0x13, kInet4Block), State::Failed, "", 16},
        {"v2 TCP4 block short", binary(0x21, 0x11, kInet4Block.substr(0, 11)), State::Failed, "",
         16},
        {"v2 TCP6 block short", binary(0x21, 0x21, kInet4Block), State::Failed, "", 16},
        {"v2 UNIX block short", binary(0x21, 0x31, std::string(215, 'u')), State::Failed, "", 16},
        {"v2 cut short", binary(0x21, 0x11, kInet4Block).substr(0, 27), State::Reading, "", 27},
        {"v2 signature broken", kSignature.substr(0, 11) + "X", State::Failed, "", 12},
    };
}

TEST(ProxyHeaderTest, ReadsValidHeadersAndRefusesBrokenOnesWholeOrByteByByte) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        ProxyHeader whole;
        EXPECT_EQ(c.used, whole.feed(c.bytes.data(), c.bytes.size()));
        EXPECT_EQ(c.state, whole.state());
        EXPECT_EQ(c.source, whole.sourceText());

        ProxyHeader trickled;
        size_t used = 0;
        for (char byte : c.bytes)
            used += trickled.feed(&byte, 1);
        EXPECT_EQ(c.used, used);
        EXPECT_EQ(c.state, trickled.state());
        EXPECT_EQ(c.source, trickled.sourceText());
    }
}

TEST(ProxyHeaderTest, GateForUntrustedPeersRefusesHeadersAndPassesEverythingElse) {
    struct GateCase {
        std::vector<std::string> pieces;
        ProxyGate::Outcome outcome;
    } table[] = {
        {{"GET / HTTP/1.1\r\n"}, ProxyGate::Outcome::Passed},
        {{"PRO", "XY "}, ProxyGate::Outcome::Refused},
        {{"PRO", "PFIND / HTTP/1.1\r\n"}, ProxyGate::Outcome::Passed},
        {{"\r\n", "\r\n"}, ProxyGate::Outcome::Waiting},
        {{"\r\n", "GET /"}, ProxyGate::Outcome::Passed},
        {{kSignature.substr(0, 5), kSignature.substr(5) + "\x21"}, ProxyGate::Outcome::Refused},
    };
    for (const GateCase& c : table) {
        ProxyGate gate;
        std::string stream, passed;
        ProxyGate::Outcome outcome = ProxyGate::Outcome::Waiting;
        for (const std::string& piece : c.pieces) {
            size_t used = 0;
            outcome = gate.feed(piece.data(), piece.size(), used);
            stream += piece;
            if (outcome == ProxyGate::Outcome::Passed)
                passed = std::string(gate.held()) + piece.substr(used);
        }
        SCOPED_TRACE(stream);
        EXPECT_EQ(c.outcome, outcome);
        if (outcome == ProxyGate::Outcome::Passed) {
            EXPECT_EQ(stream, passed);
        }
    }
}

}  // namespace
