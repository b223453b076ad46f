#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "config/ListenAddresses.h"

// What one host may do: pull changes (get) and push changes (post).
struct AccessRights {
    bool allowGet = false;
    bool allowPost = false;

    bool operator==(const AccessRights&) const = default;
};

// Exact host name (as the client names itself) to its rights, in byte order of the names.
using AccessList = std::map<std::string, AccessRights>;

// The ports a sync server can listen on: 0 would let the system pick one, and anything past
// 65535 would wrap around to some other port.
constexpr int32_t kLowestPort = 1;
constexpr int32_t kHighestPort = 65535;
constexpr const char* kPortRangeText = "1-65535";
constexpr bool isUsablePort(long long port) {
    return port >= kLowestPort && port <= kHighestPort;
}

// All scalar settings, copied in and out as one unit so a reader sees a consistent set.
struct SettingsData {
    int32_t port = 17080;
    bool commonWhitelistEnabled = true;
    uint32_t commonWhitelistMaxSize = 100000;
    bool commonTrainingDbEnabled = true;
    int32_t commonTrainingDbMaxSize = 100000;
    bool logEnabled = true;
    int32_t logFileLifetime = 10;
    AccessRights defaultAcl{true, true};
    // Addresses and prefixes of the proxies allowed to name their clients' addresses with a
    // PROXY header, separated by single blanks (see TrustedProxies); empty: none.
    std::string trustedProxies;
    // The addresses the sync server listens on, as the text of ListenAddresses.
    std::string listenAddresses = ListenAddresses::kDefault;

    bool operator==(const SettingsData&) const = default;
};
