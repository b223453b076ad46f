#pragma once

#include <map>
#include <string>
#include <vector>

#include "apps/VantorSyncAdm/SyncObject.h"

// The service's side of the management object, in memory. Operations named in `failing`
// fail with the given text.
struct FakeService {
    int32_t enabled = 0;
    std::vector<uint8_t> config;
    std::vector<uint8_t> statistics = std::vector<uint8_t>(8, 0);
    std::string folder = "/var/lib/VantorSyncSvc/";
    std::map<std::string, std::string> failing;
    SyncResult::Failure failureKind = SyncResult::Failure::Refused;
    bool creationFails = false;

    int created = 0;
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> putConfigs;

    void setCounts(int32_t whitelist, int32_t descriptors);
    void setConfigText(const std::string& text) { config.assign(text.begin(), text.end()); }
    std::string lastPutText() const;
    int callCount(const std::string& name) const;
};

SyncObjectFactory fakeSyncFactory(FakeService& service);
