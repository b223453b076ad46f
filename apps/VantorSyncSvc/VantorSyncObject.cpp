#include "apps/VantorSyncSvc/VantorSyncObject.h"

#include <exception>

#include "apps/VantorSyncSvc/ManagementPayload.h"
#include "apps/VantorSyncSvc/ServiceEvents.h"
#include "apps/VantorSyncSvc/ServiceState.h"
#include "apps/VantorSyncSvc/SyncService.h"
#include "backup/BackupVerify.h"
#include "com/ManagementBus.h"
#include "config/ByteStream.h"

namespace {

[[noreturn]] void fail(const std::string& message) {
    throw sdbus::Error(ManagementBus::kFailedError, message);
}

// Runs one operation so that nothing but sdbus::Error leaves it.
template <typename Operation>
auto guarded(const char* what, Operation operation) -> decltype(operation()) {
    try {
        return operation();
    } catch (const sdbus::Error&) {
        throw;
    } catch (const std::exception& error) {
        fail(std::string(what) + " failed: " + error.what());
    } catch (...) {
        fail(std::string(what) + " failed");
    }
}

}  // namespace

VantorSync::VantorSync(sdbus::IConnection& connection, std::string objectPath)
    : AdaptorInterfaces(connection, std::move(objectPath)) {
    registerAdaptor();
}

VantorSync::~VantorSync() {
    unregisterAdaptor();
}

int32_t VantorSync::Enabled() {
    return guarded("Reading Enabled", [] { return SyncService::instance().isRunning() ? 1 : 0; });
}

void VantorSync::Enabled(const int32_t& value) {
    guarded("Setting Enabled", [value] {
        SyncService& service = SyncService::instance();
        bool running = service.isRunning();
        if (value == 0) {
            if (running) {
                service.stopServer();
                ServiceEvents::notifyStatus(ServiceState::serverStateLine(service));
            }
            return;
        }
        if (running)
            return;
        const bool started = service.startServer();
        ServiceEvents::notifyStatus(ServiceState::serverStateLine(service));
        if (!started)
            fail("The sync server could not be started: " + service.serverFailure());
    });
}

std::vector<uint8_t> VantorSync::Config() {
    return guarded("Reading Config", [] {
        SyncService& service = SyncService::instance();
        MemoryByteStream stream;
        if (!service.exportConfig(stream)) {
            fail("The configuration could not be read from " + service.dataFolder() +
                 "config.xml (missing or unreadable)");
        }
        return stream.bytes();
    });
}

void VantorSync::Config(const std::vector<uint8_t>& value) {
    guarded("Setting Config", [&value] {
        SyncService& service = SyncService::instance();
        MemoryByteStream stream(value);
        std::string refusal;
        if (service.importConfig(stream, refusal))
            return;
        if (!refusal.empty())
            fail("The configuration was refused, nothing was changed: " + refusal);
        fail("The configuration could not be written to " + service.dataFolder() + "config.xml");
    });
}

std::vector<uint8_t> VantorSync::Statistics() {
    return guarded("Reading Statistics", [] {
        SyncService& service = SyncService::instance();
        int32_t whitelist = service.whitelistCount();
        int32_t trainingDb = service.trainingDbCount();
        return encodeStatistics(whitelist, trainingDb);
    });
}

void VantorSync::ClearWhitelist() {
    guarded("ClearWhitelist", [] {
        SyncService& service = SyncService::instance();
        if (!service.clearWhitelist()) {
            fail("The common whitelist's clear could not be made durable in " +
                 service.dataFolder() +
                 " (the highest index handed out or the emptied store "
                 "could not be written); the next push writes it");
        }
    });
}

void VantorSync::ClearTrainingDB() {
    guarded("ClearTrainingDB", [] {
        SyncService& service = SyncService::instance();
        if (!service.clearTrainingDb()) {
            fail("The common training database's clear could not be made durable in " +
                 service.dataFolder() +
                 "; a restart may bring its history back until the "
                 "next push records the clear");
        }
    });
}

std::string VantorSync::ConfigFolder() {
    return guarded("Reading ConfigFolder", [] {
        std::string folder = SyncService::instance().dataFolder();
        if (!isValidUtf8(folder))
            fail("The data folder's path is not valid UTF-8");
        return folder;
    });
}

std::tuple<uint64_t, uint64_t> VantorSync::Export(const sdbus::UnixFd& whitelist,
                                                  const sdbus::UnixFd& trainingDb) {
    return guarded("Export", [&] {
        TransferCounts counts;
        std::string why;
        if (!SyncService::instance().exportStores(whitelist.get(), trainingDb.get(), counts, why))
            fail("The export failed: " + why);
        return std::make_tuple(counts.whitelistKeys, counts.descriptors);
    });
}

std::tuple<uint64_t, uint64_t> VantorSync::Import(const sdbus::UnixFd& file) {
    return guarded("Import", [&] {
        TransferCounts counts;
        std::string why;
        if (!SyncService::instance().importStores(file.get(), counts, why))
            fail("The import stopped: " + why);
        return std::make_tuple(counts.whitelistKeys, counts.descriptors);
    });
}

std::string VantorSync::Backup(const std::string& folder) {
    return guarded("Backup", [&folder] {
        std::string summary, why;
        if (!SyncService::instance().takeBackup(folder, summary, why))
            fail("The backup failed: " + why);
        return summary;
    });
}

std::string VantorSync::Restore(const std::string& folder) {
    return guarded("Restore", [&folder] {
        SyncService& service = SyncService::instance();
        std::string summary, why;
        const bool restored = service.restoreBackup(folder, summary, why);
        ServiceEvents::notifyStatus(ServiceState::serverStateLine(service));
        if (!restored)
            fail("The restore failed: " + why);
        return summary;
    });
}

std::vector<std::string> VantorSync::Verify(const std::string& folder) {
    return guarded("Verify", [&folder] {
        if (folder.empty())
            return SyncService::instance().checkDataFolder();
        return BackupVerify::checkBackup(folder.back() == '/' ? folder : folder + "/");
    });
}
