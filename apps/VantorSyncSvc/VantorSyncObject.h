#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "IVantorSync_adaptor.h"

// The management object on the bus. It holds no state of its own: every operation
// goes straight to the service's SyncService. Handlers run on the thread of the
// connection's event loop, one at a time; whatever goes wrong inside one leaves it
// as the error com.mailvane.Error.Failed (or as the bus library's own error) and
// never as an exception into the library.
class VantorSync final : public sdbus::AdaptorInterfaces<com::mailvane::IVantorSync_adaptor> {
  public:
    VantorSync(sdbus::IConnection& connection, std::string objectPath);
    ~VantorSync();

    VantorSync(const VantorSync&) = delete;
    VantorSync& operator=(const VantorSync&) = delete;

  private:
    int32_t Enabled() override;
    void Enabled(const int32_t& value) override;
    std::vector<uint8_t> Config() override;
    void Config(const std::vector<uint8_t>& value) override;
    std::vector<uint8_t> Statistics() override;
    void ClearWhitelist() override;
    void ClearTrainingDB() override;
    std::string ConfigFolder() override;
    std::tuple<uint64_t, uint64_t> Export(const sdbus::UnixFd& whitelist,
                                          const sdbus::UnixFd& trainingDb) override;
    std::tuple<uint64_t, uint64_t> Import(const sdbus::UnixFd& file) override;
    std::string Backup(const std::string& folder) override;
    std::string Restore(const std::string& folder) override;
    std::vector<std::string> Verify(const std::string& folder) override;
};
