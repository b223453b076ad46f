#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Outcome of one call to the service's management object: success, or a failure with its
// kind and the text the service or the bus gave.
struct SyncResult {
    enum class Failure {
        None,
        Unreachable,   // no bus, or nobody answers for the service on it
        NotPermitted,  // the bus does not let this user call the service
        Refused,       // the service answered with an error of its own
    };

    bool ok = true;
    std::string message;
    Failure kind = Failure::None;

    static SyncResult success() { return SyncResult{}; }
    static SyncResult failure(std::string message, Failure kind = Failure::Refused) {
        return SyncResult{false, std::move(message), kind};
    }
};

// The management object of the running service as the console sees it: the switch of the
// HTTP sync server, the configuration text, the two collection sizes and the data folder.
class SyncObject {
  public:
    virtual ~SyncObject() = default;

    // Non-zero while the HTTP sync server runs.
    virtual SyncResult getEnabled(int32_t& enabled) = 0;
    virtual SyncResult putEnabled(int32_t enabled) = 0;
    // The exact bytes of the service's config.xml.
    virtual SyncResult getConfig(std::vector<uint8_t>& bytes) = 0;
    virtual SyncResult putConfig(const std::vector<uint8_t>& bytes) = 0;
    // Two little-endian signed 32-bit counts: whitelist items, message descriptors.
    virtual SyncResult getStatistics(std::vector<uint8_t>& bytes) = 0;
    virtual SyncResult clearWhitelist() = 0;
    virtual SyncResult clearTrainingDb() = 0;
    virtual SyncResult getConfigFolder(std::string& folder) = 0;
};

// Makes a new management object; on failure returns null and fills the failure.
using SyncObjectFactory = std::function<std::unique_ptr<SyncObject>(SyncResult& failure)>;
