#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include "IVantorSync_proxy.h"
#include "com/ManagementBus.h"

// The service's management object as seen from a client, on a connection of the caller's.
class VantorSyncProxy : public sdbus::ProxyInterfaces<com::mailvane::IVantorSync_proxy> {
  public:
    explicit VantorSyncProxy(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, ManagementBus::kServiceName, ManagementBus::kObjectPath) {
        registerProxy();
    }
    ~VantorSyncProxy() { unregisterProxy(); }

    // For calls that need a time-out of their own (the generated ones use the bus's 25 s).
    sdbus::IProxy& proxy() { return getProxy(); }

    VantorSyncProxy(const VantorSyncProxy&) = delete;
    VantorSyncProxy& operator=(const VantorSyncProxy&) = delete;
};
