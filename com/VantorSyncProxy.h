#pragma once

#include <chrono>
#include <cstdint>
#include <tuple>

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

    // Export and Import take as long as the data does, far beyond the bus's default reply
    // time-out; the service itself gives up on a file that stops moving.
    static constexpr std::chrono::hours kTransferTimeout{24};
    std::tuple<uint64_t, uint64_t> exportTo(const sdbus::UnixFd& whitelist,
                                            const sdbus::UnixFd& trainingDb) {
        return transfer("Export", whitelist, trainingDb);
    }
    std::tuple<uint64_t, uint64_t> importFrom(const sdbus::UnixFd& file) {
        return transfer("Import", file);
    }
    // For calls that need a time-out of their own (the generated ones use the bus's 25 s).
    sdbus::IProxy& proxy() { return getProxy(); }

    VantorSyncProxy(const VantorSyncProxy&) = delete;
    VantorSyncProxy& operator=(const VantorSyncProxy&) = delete;

  private:
    template <typename... Files>
    std::tuple<uint64_t, uint64_t> transfer(const char* method, const Files&... files) {
        std::tuple<uint64_t, uint64_t> counts;
        getProxy()
            .callMethod(method)
            .onInterface(INTERFACE_NAME)
            .withTimeout(kTransferTimeout)
            .withArguments(files...)
            .storeResultsTo(counts);
        return counts;
    }
};
