#include "net/ProxyHeader.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

constexpr char kLineSignature[] = "PROXY ";
constexpr size_t kLineSignatureLength = sizeof kLineSignature - 1;
constexpr char kBinarySignature[] = "\r\n\r\n\0\r\nQUIT\n";
constexpr size_t kBinarySignatureLength = sizeof kBinarySignature - 1;
static_assert(kBinarySignatureLength == 12);

// Binary header, fixed part: version and command, family and transport, length.
constexpr uint8_t kCommandLocal = 0x0;
constexpr uint8_t kCommandProxy = 0x1;
constexpr uint8_t kFamilyUnspecified = 0x0;
constexpr uint8_t kFamilyInet = 0x1;
constexpr uint8_t kFamilyInet6 = 0x2;
constexpr uint8_t kFamilyUnix = 0x3;
constexpr uint8_t kHighestTransport = 0x2;
// Source and destination address and port, per family.
constexpr size_t kInetBlock = 12;
constexpr size_t kInet6Block = 36;
constexpr size_t kUnixBlock = 216;

bool isPrefixOf(const char* data, size_t length, const char* signature, size_t signatureLength) {
    return std::memcmp(data, signature, std::min(length, signatureLength)) == 0;
}

// A port as a line writes it: 1 to 5 digits, no leading zero, at most 65535.
bool parsePort(std::string_view text, uint16_t& port) {
    if (text.empty() || text.size() > 5 || (text[0] == '0' && text.size() > 1))
        return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint32_t(c - '0');
    }
    if (value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// inet_pton wants a terminated string; an address field is short, so it is copied.
bool parseAddress(int family, std::string_view text, uint8_t* bytes) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return false;
    char copy[INET6_ADDRSTRLEN] = {};
    std::memcpy(copy, text.data(), text.size());
    return ::inet_pton(family, copy, bytes) == 1;
}

std::vector<std::string_view> splitAtBlanks(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t blank = text.find(' ', start);
        parts.push_back(
            text.substr(start, blank == std::string_view::npos ? blank : blank - start));
        if (blank == std::string_view::npos)
            return parts;
        start = blank + 1;
    }
}

}  // namespace

size_t ProxyHeader::feed(const char* data, size_t length) {
    size_t used = 0;
    while (used < length && state_ == State::Reading) {
        // What follows the addresses (TLVs, or a block that names nobody) is passed over.
        if (skipRemaining_ > 0 && heldLength_ == kFixedPartLength + addressLength_) {
            const size_t skipped = std::min(skipRemaining_, length - used);
            used += skipped;
            skipRemaining_ -= skipped;
            if (skipRemaining_ == 0)
                state_ = State::Done;
            continue;
        }
        held_[heldLength_++] = data[used++];
        step();
    }
    return used;
}

void ProxyHeader::step() {
    if (version_ == 0) {
        checkSignature();
    } else if (version_ == 1) {
        stepLine();
    } else {
        stepBinary();
    }
}

void ProxyHeader::checkSignature() {
    if (isPrefixOf(held_.data(), heldLength_, kLineSignature, kLineSignatureLength)) {
        if (heldLength_ == kLineSignatureLength)
            version_ = 1;
    } else if (isPrefixOf(held_.data(), heldLength_, kBinarySignature, kBinarySignatureLength)) {
        if (heldLength_ == kBinarySignatureLength)
            version_ = 2;
    } else {
        fail();
    }
}

void ProxyHeader::stepLine() {
    const char last = held_[heldLength_ - 1];
    const bool afterCr = held_[heldLength_ - 2] == '\r';
    if (last == '\n') {
        if (!afterCr || !parseLine())
            fail();
        else
            state_ = State::Done;
        return;
    }
    // Only printable text and the CR that ends the line; the line fits in 107 bytes.
    const bool printable = last >= 0x20 && last < 0x7f;
    if (afterCr || (!printable && last != '\r') || heldLength_ >= kMaxLineLength)
        fail();
}

bool ProxyHeader::parseLine() {
    const std::string_view line(held_.data() + kLineSignatureLength,
                                heldLength_ - kLineSignatureLength - 2);
    const std::vector<std::string_view> parts = splitAtBlanks(line);
    // Whatever follows UNKNOWN is the proxy's business; the client stays unnamed.
    if (parts[0] == "UNKNOWN")
        return true;
    int family = 0;
    if (parts[0] == "TCP4") {
        family = AF_INET;
        source_ = Source::IPv4;
    } else if (parts[0] == "TCP6") {
        family = AF_INET6;
        source_ = Source::IPv6;
    } else {
        return false;
    }
    uint8_t destination[16];
    uint16_t destinationPort = 0;
    if (parts.size() != 5 || !parseAddress(family, parts[1], sourceBytes_.data()) ||
        !parseAddress(family, parts[2], destination) || !parsePort(parts[3], sourcePort_) ||
        !parsePort(parts[4], destinationPort)) {
        source_ = Source::None;
        return false;
    }
    return true;
}

void ProxyHeader::stepBinary() {
    if (heldLength_ == kFixedPartLength) {
        if (!readBinaryFixedPart())
            fail();
        return;
    }
    if (heldLength_ < kFixedPartLength || heldLength_ < kFixedPartLength + addressLength_)
        return;
    // The addresses are held: take the client's, then pass over the destination's rest.
    const uint8_t* block = reinterpret_cast<const uint8_t*>(held_.data()) + kFixedPartLength;
    const size_t width = source_ == Source::IPv4 ? 4 : 16;
    std::memcpy(sourceBytes_.data(), block, width);
    sourcePort_ = static_cast<uint16_t>((block[2 * width] << 8) | block[2 * width + 1]);
    if (skipRemaining_ == 0)
        state_ = State::Done;
}

bool ProxyHeader::readBinaryFixedPart() {
    const auto* fixed = reinterpret_cast<const uint8_t*>(held_.data());
    const uint8_t versionCommand = fixed[12];
    const uint8_t familyTransport = fixed[13];
    const size_t length = size_t(fixed[14]) << 8 | fixed[15];
    const uint8_t command = versionCommand & 0x0f;
    const uint8_t family = familyTransport >> 4;
    if ((versionCommand >> 4) != 2 || (command != kCommandLocal && command != kCommandProxy) ||
        family > kFamilyUnix || (familyTransport & 0x0f) > kHighestTransport) {
        return false;
    }
    size_t needed = 0;
    if (family == kFamilyInet)
        needed = kInetBlock;
    else if (family == kFamilyInet6)
        needed = kInet6Block;
    else if (family == kFamilyUnix)
        needed = kUnixBlock;
    // A LOCAL header comes from the proxy itself (a health check): its block says nothing.
    if (command == kCommandLocal || family == kFamilyUnspecified || family == kFamilyUnix) {
        if (command == kCommandProxy && length < needed)
            return false;
        skipRemaining_ = length;
        if (length == 0)
            state_ = State::Done;
        return true;
    }
    if (length < needed)
        return false;
    source_ = family == kFamilyInet ? Source::IPv4 : Source::IPv6;
    addressLength_ = needed;
    skipRemaining_ = length - needed;
    return true;
}

std::string ProxyHeader::sourceText() const {
    if (source() == Source::None)
        return std::string();
    // An IPv4-mapped client is written as plain IPv4, as the listening sockets write such
    // peers, so that the access check and the per-address count see one spelling.
    static const uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    const bool mapped = source_ == Source::IPv6 &&
                        std::memcmp(sourceBytes_.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
    char text[INET6_ADDRSTRLEN] = {};
    const int family = source_ == Source::IPv4 || mapped ? AF_INET : AF_INET6;
    const uint8_t* bytes = sourceBytes_.data() + (mapped ? 12 : 0);
    if (::inet_ntop(family, bytes, text, sizeof text) == nullptr)
        return std::string();
    return text;
}

ProxyHeader::Match ProxyHeader::beginsHeader(const char* data, size_t length) {
    for (auto [signature, signatureLength] :
         {std::pair{kLineSignature, kLineSignatureLength},
          std::pair{kBinarySignature, kBinarySignatureLength}}) {
        if (isPrefixOf(data, length, signature, signatureLength))
            return length >= signatureLength ? Match::Yes : Match::Maybe;
    }
    return Match::No;
}
