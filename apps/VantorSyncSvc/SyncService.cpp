#include "apps/VantorSyncSvc/SyncService.h"

#include <cerrno>
#include <cstring>

#include "apps/VantorSyncSvc/ServiceEvents.h"
#include "apps/VantorSyncSvc/SvcLog.h"
#include "backup/RestoreSwap.h"
#include "metrics/Metrics.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

namespace {
constexpr int kHttpSessionKind = 1;
}

SyncService& SyncService::instance() {
    static SyncService service;
    return service;
}

SyncService::SyncService()
    : settings_(Settings::Owner::Service),
      server_(&socket_),
      whitelistCommitter_(
          [this](const HTTPParser::IOB& body, uint32_t& newIndex) {
              if (!getValues().commonWhitelistEnabled)
                  return false;
              return whitelist_.applyPending(body, newIndex);
          },
          [this] {
              // The save histogram times one commit, which covers a group of pushes.
              SaveTimer timer(Metrics::Collection::Whitelist);
              return whitelist_.commitPending(dataFolder(), getValues().commonWhitelistMaxSize,
                                              true);
          },
          [this](std::unique_ptr<RequestItem> item, bool ok, uint32_t newIndex) {
              server_.completePush(std::move(item), ok, newIndex);
          },
          [this] { whitelist_.recordEndAhead(dataFolder()); }),
      trainingDbCommitter_(
          [this](const HTTPParser::IOB& body, uint32_t& newIndex) {
              if (!getValues().commonTrainingDbEnabled)
                  return false;
              return trainingDb_.applyPending(body, newIndex);
          },
          [this] {
              // Many pushes a second would otherwise copy the whole file for each group.
              const auto maxSize = static_cast<uint32_t>(getValues().commonTrainingDbMaxSize);
              SaveTimer timer(Metrics::Collection::TrainingDb);
              return trainingDb_.commitPending(maxSize, maxSize / 4, maxSize / 64);
          },
          [this](std::unique_ptr<RequestItem> item, bool ok, uint32_t newIndex) {
              server_.completePush(std::move(item), ok, newIndex);
          }) {}

bool SyncService::submitPush(SyncHttpServer::Collection collection,
                             std::unique_ptr<RequestItem>& item) {
    return collection == SyncHttpServer::Collection::Whitelist ? whitelistCommitter_.submit(item)
                                                               : trainingDbCommitter_.submit(item);
}

bool SyncService::startup() {
    AutoLock lock(mainLock_);
    SvcLog::instance().setFolder(dataFolder());
    std::string path = configPath();
    removeLeftoverTemporaries(path);
    if (!FileSystem::fileExists(path))
        saveFile(path);
    // An unreadable file is replaced by what the model holds, so the next start reads it.
    if (!loadFile(path))
        saveFile(path);
    SettingsData values = getValues();
    SvcLog::instance().setEnabled(values.logEnabled);
    SvcLog::instance().setLifetime(values.logFileLifetime);
    // A store file that exists but cannot be read must stop the start: a service that ran
    // on would serve nothing and overwrite the file at its next save.
    const std::string folder = dataFolder();
    std::string unfinished;
    if (!RestoreSwap::finishInterrupted(folder, unfinished)) {
        ServiceEvents::reportFailure("VantorSyncSvc: an interrupted restore in " + folder +
                                     " cannot be completed: " + unfinished + "; not starting.");
        return false;
    }
    errno = 0;
    const bool whitelistLoaded = whitelist_.load(folder);
    const int whitelistError = errno;
    if (!whitelistLoaded || !trainingDb_.load(folder)) {
        const int error = whitelistLoaded ? errno : whitelistError;
        ServiceEvents::reportFailure(
            std::string("VantorSyncSvc: the common ") +
            (whitelistLoaded ? "training database" : "whitelist") + " in " + folder +
            " cannot be loaded" +
            (error != 0 ? std::string(" (") + std::strerror(error) + ")" : "") +
            "; not starting, and nothing was changed. Check the store files' owner and "
            "permissions.");
        return false;
    }
    whitelistCommitter_.start();
    trainingDbCommitter_.start();
    startServer();
    return true;
}

void SyncService::shutdown() {
    AutoLock lock(mainLock_);
    saveFile(configPath());
    stopServer();
    // The pushes already taken are answered (into closed connections) and logged first.
    whitelistCommitter_.stop();
    trainingDbCommitter_.stop();
    // The worker and committers have stopped, so no access line follows the ones written here.
    SvcLog::instance().close();
    whitelist_.save(dataFolder());
    trainingDb_.flush();
}

bool SyncService::reloadConfig(std::string& why) {
    AutoLock lock(mainLock_);
    return settings_.reloadFile(configPath(), why);
}

bool SyncService::isRunning() {
    AutoLock lock(mainLock_);
    return running_;
}

int SyncService::listeningPort() {
    AutoLock lock(mainLock_);
    return running_ ? port_ : 0;
}

std::string SyncService::listenDescription() const {
    return ListenAddresses::join(socket_.listeningOn());
}

std::string SyncService::serverFailure() {
    AutoLock lock(mainLock_);
    return serverFailure_;
}

bool SyncService::startServer() {
    AutoLock lock(mainLock_);
    server_.start();
    // Asked at each accept, so a configuration put reaches the next connection.
    socket_.setProxyTrust(
        [this](const std::string& peer) { return settings_.isTrustedProxy(peer); });
    SettingsData values = getValues();
    std::vector<std::string> addresses;
    const bool inherited = socket_.hasInheritedListeners();
    serverFailure_.clear();
    // A port outside the TCP range must not wrap around to some other port, and port 0
    // (also what a text without digits reads as) would listen on one the system picks.
    if (!inherited && !isUsablePort(values.port))
        serverFailure_ = "port " + std::to_string(values.port) + " is outside " + kPortRangeText;
    else if (!inherited && !listenOverride_.empty())
        addresses = listenOverride_;
    else if (!inherited)
        ListenAddresses::parse(values.listenAddresses, addresses, serverFailure_);
    if (serverFailure_.empty()) {
        if (socket_.start(addresses, static_cast<uint16_t>(values.port), kHttpSessionKind,
                          &server_)) {
            running_ = true;
            port_ = socket_.port();
            Metrics::instance().setSyncServing(true);
            return true;
        }
        serverFailure_ = socket_.startError();
    }
    server_.stop();
    Metrics::instance().setSyncServing(false);
    return false;
}

bool SyncService::stopServer() {
    AutoLock lock(mainLock_);
    socket_.stop();
    server_.stop();
    // Their connections are closed: what the committers still hold is settled now, so
    // nothing of this start is answered into the next one.
    whitelistCommitter_.settle();
    trainingDbCommitter_.settle();
    running_ = false;
    Metrics::instance().setSyncServing(false);
    return true;
}

bool SyncService::getWhitelistUpdates(uint32_t startIndex, HTTPParser::IOB& responseBody,
                                      uint32_t& newIndex, SnapshotCache::Answer* shared) {
    if (!getValues().commonWhitelistEnabled) {
        newIndex = 0;
        return false;
    }
    if (shared != nullptr && whitelistSnapshot_.answer(whitelist_, startIndex, *shared, newIndex)) {
        responseBody.clear();
        return *shared != nullptr;
    }
    return whitelist_.getUpdates(startIndex, responseBody, newIndex);
}

bool SyncService::getTrainingDbUpdates(uint32_t startIndex, HTTPParser::IOB& responseBody,
                                       uint32_t& newIndex) {
    if (!getValues().commonTrainingDbEnabled) {
        newIndex = 0;
        return false;
    }
    return trainingDb_.getUpdates(startIndex, responseBody, newIndex);
}

int32_t SyncService::whitelistCount() {
    return whitelist_.count();
}
int32_t SyncService::trainingDbCount() {
    return trainingDb_.count();
}
size_t SyncService::whitelistKeyCount() {
    return whitelist_.keyCount();
}
size_t SyncService::trainingDbDescriptorCount() {
    return trainingDb_.descriptorCount();
}
bool SyncService::clearWhitelist() {
    AutoLock lock(mainLock_);
    const bool durable = recordHighestIndexes() && whitelist_.clear(dataFolder());
    whitelistSnapshot_.dropStale(whitelist_);
    return durable;
}
bool SyncService::clearTrainingDb() {
    AutoLock lock(mainLock_);
    return recordHighestIndexes() && trainingDb_.clear();
}
