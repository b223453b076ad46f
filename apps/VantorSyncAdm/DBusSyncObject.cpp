#include "apps/VantorSyncAdm/DBusSyncObject.h"

#include <exception>
#include <utility>

#include "com/VantorSyncProxy.h"

namespace {

SyncResult failureOf(const sdbus::Error& error) {
    std::string text = error.getMessage().empty() ? error.getName() : error.getMessage();
    switch (ManagementBus::classifyError(error.getName())) {
        case ManagementBus::CallFailure::Unreachable:
            return SyncResult::failure(std::move(text), SyncResult::Failure::Unreachable);
        case ManagementBus::CallFailure::NotPermitted:
            return SyncResult::failure(std::move(text), SyncResult::Failure::NotPermitted);
        case ManagementBus::CallFailure::Other:
            break;
    }
    return SyncResult::failure(std::move(text));
}

// Runs one call; whatever the bus library throws becomes a failure with its text.
template <typename Call>
SyncResult guarded(Call call) {
    try {
        call();
        return SyncResult::success();
    } catch (const sdbus::Error& error) {
        return failureOf(error);
    } catch (const std::exception& error) {
        return SyncResult::failure(error.what());
    }
}

class DBusSyncObject : public SyncObject {
  public:
    explicit DBusSyncObject(std::unique_ptr<sdbus::IConnection> connection)
        : connection_(std::move(connection)), proxy_(*connection_) {}

    SyncResult getEnabled(int32_t& enabled) override {
        return guarded([&] { enabled = proxy_.Enabled(); });
    }
    SyncResult putEnabled(int32_t enabled) override {
        return guarded([&] { proxy_.Enabled(enabled); });
    }
    SyncResult getConfig(std::vector<uint8_t>& bytes) override {
        return guarded([&] { bytes = proxy_.Config(); });
    }
    SyncResult putConfig(const std::vector<uint8_t>& bytes) override {
        return guarded([&] { proxy_.Config(bytes); });
    }
    SyncResult getStatistics(std::vector<uint8_t>& bytes) override {
        return guarded([&] { bytes = proxy_.Statistics(); });
    }
    SyncResult clearWhitelist() override {
        return guarded([&] { proxy_.ClearWhitelist(); });
    }
    SyncResult clearTrainingDb() override {
        return guarded([&] { proxy_.ClearTrainingDB(); });
    }
    SyncResult getConfigFolder(std::string& folder) override {
        return guarded([&] { folder = proxy_.ConfigFolder(); });
    }

  private:
    // Declared before the proxy, which uses it until it is gone.
    std::unique_ptr<sdbus::IConnection> connection_;
    VantorSyncProxy proxy_;
};

std::unique_ptr<SyncObject> createDBusSyncObject(SyncResult& failure) {
    std::optional<ManagementBus::BusKind> bus = ManagementBus::busKindFromEnvironment();
    if (!bus) {
        failure = SyncResult::failure("VANTORSYNC_BUS names no known bus (system, session).");
        return nullptr;
    }
    if (*bus == ManagementBus::BusKind::None) {
        failure = SyncResult::failure("The management interface is switched off.",
                                      SyncResult::Failure::Unreachable);
        return nullptr;
    }
    // Without its bus the service cannot be reached, whatever the library calls the fault.
    try {
        return std::make_unique<DBusSyncObject>(ManagementBus::connect(*bus));
    } catch (const sdbus::Error& error) {
        failure =
            SyncResult::failure(error.getMessage().empty() ? error.getName() : error.getMessage(),
                                SyncResult::Failure::Unreachable);
    } catch (const std::exception& error) {
        failure = SyncResult::failure(error.what(), SyncResult::Failure::Unreachable);
    }
    return nullptr;
}

}  // namespace

SyncObjectFactory dbusSyncObjectFactory() {
    return createDBusSyncObject;
}
