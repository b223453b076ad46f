#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/VantorSyncSvc/PushCommitter.h"
#include "apps/VantorSyncSvc/SnapshotCache.h"
#include "apps/VantorSyncSvc/StoreTransfer.h"
#include "apps/VantorSyncSvc/SyncHttpServer.h"
#include "config/ByteStream.h"
#include "config/Settings.h"
#include "net/ServerSocket.h"
#include "platform/AutoLock.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"

// The one object of the service program that owns everything that lasts:
// settings, request queue, listening socket and both stores.
class SyncService {
  public:
    static SyncService& instance();

    SyncService(const SyncService&) = delete;
    SyncService& operator=(const SyncService&) = delete;

    // False, after reporting why, when a store cannot be loaded: the service must not run.
    bool startup();
    void shutdown();
    // Reads config.xml again into the running settings, as a configuration put does:
    // per-request values apply at once, the port and the log settings at the next start.
    // A file that is not a whole, usable configuration changes nothing; `why` says why.
    bool reloadConfig(std::string& why);

    // 1 to 65535: the ports the HTTP server can be started on.
    static bool isUsablePort(int port) { return ::isUsablePort(port); }

    bool isRunning();
    bool startServer();
    bool stopServer();
    // The port the HTTP server listens on while running; 0 otherwise.
    int listeningPort();
    // Sockets systemd listens on for the service (VantorSyncSvc.socket). While there are
    // any, the server serves exactly these, and the port and listen addresses of the
    // settings are kept but not used; a stop leaves them open. Only before startup.
    void useInheritedListeners(const std::vector<int>& sockets) {
        socket_.useInheritedListeners(sockets);
    }
    bool hasInheritedListeners() const { return socket_.hasInheritedListeners(); }
    // Addresses from the command line (-Listen=) that replace the settings' for this run;
    // config.xml keeps its own. Only before startup.
    void overrideListenAddresses(const std::vector<std::string>& addresses) {
        AutoLock lock(mainLock_);
        listenOverride_ = addresses;
    }
    // Where the server listens while running ("127.0.0.1:17080, [::1]:17080").
    std::string listenDescription() const;
    // Why the last start of the HTTP server failed; empty after a good start.
    std::string serverFailure();

    // With shared given, a pull answered with the full snapshot gets the one snapshot
    // shared by all such answers in *shared, and responseBody stays empty.
    bool getWhitelistUpdates(uint32_t startIndex, HTTPParser::IOB& responseBody, uint32_t& newIndex,
                             SnapshotCache::Answer* shared = nullptr);
    // After a whitelist push: a snapshot of the state before it is not kept any longer.
    void dropStaleWhitelistSnapshot() { whitelistSnapshot_.dropStale(whitelist_); }
    bool getTrainingDbUpdates(uint32_t startIndex, HTTPParser::IOB& responseBody,
                              uint32_t& newIndex);
    // Hands a push to its collection's committer (item is taken); false when it cannot wait.
    // The committers are the only way a push reaches a store.
    bool submitPush(SyncHttpServer::Collection collection, std::unique_ptr<RequestItem>& item);
    int32_t whitelistCount();
    int32_t trainingDbCount();
    size_t whitelistKeyCount();
    size_t trainingDbDescriptorCount();
    // True once the cleared store is on disk. The highest index handed out is recorded
    // first (false, nothing cleared, when it cannot be).
    bool clearWhitelist();
    bool clearTrainingDb();

    // Backup, restore and the check of the live files (SyncServiceBackup.cpp). summary
    // is a line or two for the administrator, why the reason of a failure.
    bool takeBackup(const std::string& folder, std::string& summary, std::string& why);
    bool restoreBackup(const std::string& folder, std::string& summary, std::string& why);
    std::vector<std::string> checkDataFolder();
    // Without the data folder's index mark (the folder was lost, or never held one), the
    // restored numbering starts this far above the backup's highest index: clients may
    // have been handed indexes the backup never saw.
    static constexpr uint32_t kLostFolderGap = 1u << 24;

    // Export and import in the portable text format, through the caller's files: see
    // StoreTransfer.h. An import has the rights of an administrator (it pushes to both
    // collections whatever the access list says); a collection switched off refuses it.
    bool exportStores(int whitelistFd, int trainingDbFd, TransferCounts& counts, std::string& why) {
        return ::exportStores(whitelist_, trainingDb_, whitelistFd, trainingDbFd, counts, why);
    }
    bool importStores(int fd, TransferCounts& counts, std::string& why) {
        return ::importStores(whitelistCommitter_, trainingDbCommitter_, fd, counts, why);
    }

    SettingsData getValues() const { return settings_.getValues(); }
    AccessRights rightsForHost(const std::string& host) const {
        return settings_.rightsForHost(host);
    }
    AccessRights rightsForClient(const std::string& peer, const std::string* host) const {
        return settings_.rightsForClient(peer, host);
    }
    std::vector<std::string> malformedAddressEntries() const {
        return settings_.malformedAddressEntries();
    }
    std::vector<std::string> malformedTrustedProxies() const {
        return settings_.malformedTrustedProxies();
    }
    std::string dataFolder() const { return settings_.dataFolder(); }
    // Only before startup: the module replaces a folder that cannot be used.
    void setDataFolder(const std::string& folder) { settings_.setDataFolder(folder); }
    bool loadFile(const std::string& path) { return settings_.loadFile(path); }
    bool saveFile(const std::string& path) { return settings_.saveFile(path); }
    bool exportConfig(ByteStream& stream) { return settings_.exportConfig(stream); }
    bool importConfig(ByteStream& stream, std::string& refusal) {
        return settings_.importConfig(stream, refusal);
    }

  private:
    SyncService();
    ~SyncService() = default;

    std::string configPath() const { return dataFolder() + "config.xml"; }
    // Raises the data folder's index mark to both stores' ends, before an end goes down.
    bool recordHighestIndexes();
    // Brings the files staged from a backup to numbers above every index handed out.
    bool renumberStaged(const std::string& staging, uint32_t whitelistBase, uint32_t trainingDbBase,
                        std::string& why);

    // Members in this order: settings first (its construction picks the data
    // folder), the queue's responder is the socket built right after it.
    Settings settings_;
    SyncHttpServer server_;
    ServerSocket socket_;
    bool running_ GUARDED_BY(mainLock_) = false;
    int port_ GUARDED_BY(mainLock_) = 0;
    std::string serverFailure_ GUARDED_BY(mainLock_);
    std::vector<std::string> listenOverride_ GUARDED_BY(mainLock_);
    CommonWhitelist whitelist_;
    CommonTrainingDb trainingDb_;
    SnapshotCache whitelistSnapshot_;
    // After the stores and the server, so that they go first, answering what they hold.
    PushCommitter whitelistCommitter_;
    PushCommitter trainingDbCommitter_;
    // Taken before the lock of any member and the log's; none of them calls back in here.
    CriticalSection mainLock_;
};
