#pragma once

#include <string>
#include <vector>

#include "config/AddressEntry.h"

// The proxies whose word on a client's address the server takes: the "trusted_proxies"
// setting, addresses and prefixes ("10.0.0.5", "192.168.1.0/24", "fd00::/8") separated by
// blanks or commas. A connection from one of them must begin with a PROXY header; from any
// other address such a header is refused. Empty: no proxy is trusted.
class TrustedProxies {
  public:
    explicit TrustedProxies(const std::string& text = std::string());

    // The peer address as the connection gives it. An item that is not an address or a
    // prefix trusts nobody: a typing error must not hand the client's word to anyone.
    bool contains(const std::string& peer) const;

    // The items of a setting's text.
    static std::vector<std::string> items(const std::string& text);
    // The text as it is kept and saved: the items joined by single blanks.
    static std::string normalised(const std::string& text);
    // One line per item that is not an address or a prefix, saying why.
    static std::vector<std::string> malformed(const std::string& text);

  private:
    std::vector<AddressEntry> entries_;
};
