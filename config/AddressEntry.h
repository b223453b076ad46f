#pragma once

#include <array>
#include <cstdint>
#include <string>

// A client chooses the "User-Host" name it sends, but not the address its connection
// comes from. An access-list key that is an IPv4 or IPv6 address or a CIDR prefix
// ("10.1.0.0/16", "fd00::/8") therefore names a network, and this class reads such keys and
// matches peer addresses against them. IPv4 is held in its IPv4-mapped IPv6 form
// (::ffff:a.b.c.d), so an IPv4 entry also matches a peer that a dual-stack socket reports
// as ::ffff:a.b.c.d, and all prefix lengths compare on one 128-bit scale.
class AddressEntry {
  public:
    using Bytes = std::array<uint8_t, 16>;

    enum class Kind {
        Name,       // an ordinary host name, matched against "User-Host"
        Address,    // a well-formed address or prefix
        Malformed,  // looks like an address or prefix but is not one ("10.1.0.0/33")
    };

    // What an access-list key is. For Address, entry (when given) receives the network;
    // for Malformed, reason (when given) receives one line saying what is wrong. A key
    // counts as looking like an address when, before an optional "/", it is made of digits
    // and dots with at least one dot or a "/" (IPv4), or of hex digits, dots and at least
    // one colon, with an optional "%zone" (IPv6). Anything else is a name.
    static Kind classify(const std::string& key, AddressEntry* entry = nullptr,
                         std::string* reason = nullptr);

    // A peer address as the connection gives it (dotted IPv4 or IPv6 text, no prefix).
    static bool parsePeer(const std::string& text, Bytes& address);

    bool matches(const Bytes& peer) const;
    // On the 128-bit scale: an IPv4 /16 is 112. Larger is more specific.
    int prefixLength() const { return prefixLength_; }
    bool sameNetwork(const AddressEntry& other) const {
        return prefixLength_ == other.prefixLength_ && network_ == other.network_;
    }

  private:
    Bytes network_{};
    int prefixLength_ = 128;
};
