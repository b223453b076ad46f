#include "tests/console/FakeSyncObject.h"

#include <algorithm>
#include <memory>

namespace {

class FakeSyncObject : public SyncObject {
  public:
    explicit FakeSyncObject(FakeService& service) : service_(service) {}

    SyncResult getEnabled(int32_t& enabled) override {
        return call("getEnabled", [&] { enabled = service_.enabled; });
    }
    SyncResult putEnabled(int32_t enabled) override {
        return call("putEnabled", [&] { service_.enabled = enabled != 0 ? 1 : 0; });
    }
    SyncResult getConfig(std::vector<uint8_t>& bytes) override {
        return call("getConfig", [&] { bytes = service_.config; });
    }
    SyncResult putConfig(const std::vector<uint8_t>& bytes) override {
        return call("putConfig", [&] {
            service_.config = bytes;
            service_.putConfigs.push_back(bytes);
        });
    }
    SyncResult getStatistics(std::vector<uint8_t>& bytes) override {
        return call("getStatistics", [&] { bytes = service_.statistics; });
    }
    SyncResult clearWhitelist() override {
        return call("clearWhitelist", [&] {
            std::fill(service_.statistics.begin(), service_.statistics.begin() + 4, 0);
        });
    }
    SyncResult clearTrainingDb() override {
        return call("clearTrainingDb", [&] {
            std::fill(service_.statistics.begin() + 4, service_.statistics.end(), 0);
        });
    }
    SyncResult getConfigFolder(std::string& folder) override {
        return call("getConfigFolder", [&] { folder = service_.folder; });
    }

  private:
    template <typename Action>
    SyncResult call(const std::string& name, Action action) {
        service_.calls.push_back(name);
        auto failure = service_.failing.find(name);
        if (failure != service_.failing.end())
            return SyncResult::failure(failure->second, service_.failureKind);
        action();
        return SyncResult::success();
    }

    FakeService& service_;
};

}  // namespace

void FakeService::setCounts(int32_t whitelist, int32_t descriptors) {
    statistics.clear();
    for (int32_t value : {whitelist, descriptors}) {
        uint32_t bits = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            statistics.push_back(static_cast<uint8_t>(bits >> shift));
    }
}

std::string FakeService::lastPutText() const {
    return putConfigs.empty() ? std::string()
                              : std::string(putConfigs.back().begin(), putConfigs.back().end());
}

int FakeService::callCount(const std::string& name) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

SyncObjectFactory fakeSyncFactory(FakeService& service) {
    return [&service](SyncResult& failure) -> std::unique_ptr<SyncObject> {
        ++service.created;
        if (service.creationFails) {
            failure = SyncResult::failure("The service is not available.", service.failureKind);
            return nullptr;
        }
        return std::make_unique<FakeSyncObject>(service);
    };
}
