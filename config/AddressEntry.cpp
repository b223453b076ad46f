#include "config/AddressEntry.h"

#include <arpa/inet.h>

#include <cstring>

namespace {

constexpr int kMappedPrefix = 96;  // ::ffff:0:0/96 holds the IPv4 addresses

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool looksLikeIPv4(const std::string& head, bool hasSlash) {
    if (head.empty())
        return false;
    bool dot = false;
    for (char c : head) {
        if (c == '.')
            dot = true;
        else if (!isDigit(c))
            return false;
    }
    return dot || hasSlash;
}

bool looksLikeIPv6(const std::string& head) {
    const std::string address = head.substr(0, head.find('%'));
    bool colon = false;
    for (char c : address) {
        if (c == ':')
            colon = true;
        else if (c != '.' && !isHexDigit(c))
            return false;
    }
    return colon;
}

void mapIPv4(const unsigned char* ipv4, AddressEntry::Bytes& bytes) {
    bytes.fill(0);
    bytes[10] = 0xff;
    bytes[11] = 0xff;
    std::memcpy(bytes.data() + 12, ipv4, 4);
}

// True when every bit after the first prefixLength bits is zero.
bool hostBitsClear(const AddressEntry::Bytes& bytes, int prefixLength) {
    for (int bit = prefixLength; bit < 128; ++bit) {
        if (bytes[bit / 8] & (0x80 >> (bit % 8)))
            return false;
    }
    return true;
}

void clearHostBits(AddressEntry::Bytes& bytes, int prefixLength) {
    for (int bit = prefixLength; bit < 128; ++bit)
        bytes[bit / 8] &= static_cast<uint8_t>(~(0x80 >> (bit % 8)));
}

std::string networkText(const AddressEntry::Bytes& bytes, bool ipv4, int length) {
    char text[INET6_ADDRSTRLEN] = {};
    if (ipv4)
        ::inet_ntop(AF_INET, bytes.data() + 12, text, sizeof text);
    else
        ::inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
    return std::string(text) + "/" + std::to_string(length);
}

AddressEntry::Kind refuse(std::string* reason, const std::string& why) {
    if (reason != nullptr)
        *reason = why;
    return AddressEntry::Kind::Malformed;
}

}  // namespace

AddressEntry::Kind AddressEntry::classify(const std::string& key, AddressEntry* entry,
                                          std::string* reason) {
    const size_t first = key.find_first_not_of(' ');
    const size_t last = key.find_last_not_of(' ');
    const std::string trimmed =
        first == std::string::npos ? std::string() : key.substr(first, last - first + 1);
    const size_t slash = trimmed.find('/');
    const bool hasSlash = slash != std::string::npos;
    const std::string head = trimmed.substr(0, slash);
    const bool ipv4 = looksLikeIPv4(head, hasSlash);
    if (!ipv4 && !looksLikeIPv6(head))
        return Kind::Name;

    if (trimmed != key)
        return refuse(reason, "an address entry must not have blanks before or after it");
    if (head.find('%') != std::string::npos)
        return refuse(reason, "an address entry cannot carry a zone index (the part from %)");
    const int maxLength = ipv4 ? 32 : 128;
    int length = maxLength;
    if (hasSlash) {
        const std::string tail = trimmed.substr(slash + 1);
        if (tail.empty() || tail.size() > 3 || tail.find_first_not_of("0123456789") != tail.npos)
            return refuse(reason, "the prefix length after \"/\" must be a decimal number");
        length = std::stoi(tail);
    }

    Bytes bytes{};
    if (ipv4) {
        unsigned char raw[4];
        if (::inet_pton(AF_INET, head.c_str(), raw) != 1)
            return refuse(reason,
                          "\"" + head + "\" is not an IPv4 address (four numbers 0 to 255)");
        mapIPv4(raw, bytes);
    } else if (::inet_pton(AF_INET6, head.c_str(), bytes.data()) != 1) {
        return refuse(reason, "\"" + head + "\" is not an IPv6 address");
    }
    if (length > maxLength) {
        return refuse(reason, std::string("the prefix length of an ") + (ipv4 ? "IPv4" : "IPv6") +
                                  " address is 0 to " + std::to_string(maxLength));
    }
    const int fullLength = ipv4 ? kMappedPrefix + length : length;
    if (!hostBitsClear(bytes, fullLength)) {
        // Ambiguous: the single address or the network around it? The user says which.
        clearHostBits(bytes, fullLength);
        return refuse(reason, "bits are set after the first " + std::to_string(length) +
                                  "; the network is " + networkText(bytes, ipv4, length) +
                                  ", a single address has no \"/\"");
    }
    if (entry != nullptr) {
        entry->network_ = bytes;
        entry->prefixLength_ = fullLength;
    }
    return Kind::Address;
}

bool AddressEntry::parsePeer(const std::string& text, Bytes& address) {
    unsigned char raw[4];
    if (::inet_pton(AF_INET, text.c_str(), raw) == 1) {
        mapIPv4(raw, address);
        return true;
    }
    return ::inet_pton(AF_INET6, text.c_str(), address.data()) == 1;
}

bool AddressEntry::matches(const Bytes& peer) const {
    const int whole = prefixLength_ / 8;
    if (std::memcmp(peer.data(), network_.data(), static_cast<size_t>(whole)) != 0)
        return false;
    const int rest = prefixLength_ % 8;
    if (rest == 0)
        return true;
    const uint8_t mask = static_cast<uint8_t>(0xff00 >> rest);
    return (peer[whole] & mask) == network_[whole];
}
