#include "config/AccessPolicy.h"

AccessPolicy::AccessPolicy(const AccessList& list) {
    for (const auto& [key, rights] : list) {
        AddressEntry address;
        switch (AddressEntry::classify(key, &address)) {
            case AddressEntry::Kind::Address:
                networks_.push_back({address, rights});
                checksAddresses_ = true;
                break;
            case AddressEntry::Kind::Malformed:
                // Kept in the list so that it is not lost, but it matches no peer.
                checksAddresses_ = true;
                break;
            case AddressEntry::Kind::Name:
                break;
        }
    }
}

AccessRights AccessPolicy::rightsFor(const std::string& peer, const std::string* host,
                                     const AccessList& list, const AccessRights& defaults) const {
    if (!checksAddresses_) {
        if (host == nullptr)
            return AccessRights{};
        auto found = list.find(*host);
        return found != list.end() ? found->second : defaults;
    }

    AddressEntry::Bytes peerAddress;
    if (!AddressEntry::parsePeer(peer, peerAddress))
        return AccessRights{};
    int best = -1;
    AccessRights rights;
    for (const Network& network : networks_) {
        if (!network.address.matches(peerAddress))
            continue;
        const int length = network.address.prefixLength();
        if (length > best) {
            best = length;
            rights = network.rights;
        } else if (length == best) {
            // The same network written twice ("10.1.0.0/16" and "::ffff:10.1.0.0/112"):
            // neither wins, so each may only take rights away.
            rights.allowGet = rights.allowGet && network.rights.allowGet;
            rights.allowPost = rights.allowPost && network.rights.allowPost;
        }
    }
    if (best < 0)
        return AccessRights{};

    // Address entries never match "User-Host", so a client cannot pick up the rights of
    // an address entry by sending its text as its name.
    if (host != nullptr && AddressEntry::classify(*host) == AddressEntry::Kind::Name) {
        auto named = list.find(*host);
        if (named != list.end()) {
            rights.allowGet = rights.allowGet && named->second.allowGet;
            rights.allowPost = rights.allowPost && named->second.allowPost;
        }
    }
    return rights;
}
