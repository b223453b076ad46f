#pragma once

#include <string>
#include <vector>

#include "config/AddressEntry.h"
#include "config/SettingsData.h"

// Who may pull and push. Without address entries in the access list, a client is known only
// by the "User-Host" name it declares: its name entry, else the default rights, and nothing
// without a name. Any address entry turns the list into an address check that a client
// cannot talk its way past: the peer must match an address entry, gets the rights of the
// most specific one, and a name entry for its "User-Host" can only take rights away. The
// default rights then stand for names without an entry and restrict nobody.
class AccessPolicy {
  public:
    // Parses the address entries of the list once; the list itself is passed to rightsFor,
    // which must get the same list.
    explicit AccessPolicy(const AccessList& list);

    // True when the list holds an address entry, a malformed one included: a mistyped
    // prefix must not silently open the port to every name.
    bool checksAddresses() const { return checksAddresses_; }

    // peer: the connection's address as text; host: the "User-Host" value, nullptr when
    // the request has none.
    AccessRights rightsFor(const std::string& peer, const std::string* host, const AccessList& list,
                           const AccessRights& defaults) const;

  private:
    struct Network {
        AddressEntry address;
        AccessRights rights;
    };
    std::vector<Network> networks_;
    bool checksAddresses_ = false;
};
