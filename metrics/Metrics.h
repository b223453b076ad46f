#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// What an operator watches on a running server, counted where it happens: the layers
// below (net, the sync endpoints, the stores' callers) only increment these counters;
// reading them never takes a lock that a request holds. Store sizes are sampled at
// each scrape instead, through a function that the service hands in.
class Metrics {
  public:
    enum class Collection { Whitelist, TrainingDb };
    enum class SyncOperation { Pull, Push };
    enum class SyncResult { Ok, Denied, Failed };

    // Upper bounds, in seconds, of the save time histogram's buckets.
    static constexpr std::array<double, 12> kSaveBuckets = {
        0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 2.5, 10.0};

    struct StoreSizes {
        uint64_t whitelistKeys = 0;
        uint64_t whitelistHistory = 0;
        uint64_t trainingDbHistory = 0;
        uint64_t trainingDbDescriptors = 0;
        // File name in the data folder -> its size; missing files are left out.
        std::vector<std::pair<std::string, uint64_t>> fileBytes;
    };
    using StoreSampler = std::function<StoreSizes()>;

    struct SaveHistogram {
        std::array<uint64_t, kSaveBuckets.size()> buckets{};  // not cumulative
        uint64_t count = 0;
        double sumSeconds = 0;
    };

    struct Snapshot {
        // (endpoint, status) -> requests answered.
        std::map<std::pair<std::string, int>, uint64_t> requests;
        uint64_t bytesIn = 0;
        uint64_t bytesOut = 0;
        // [collection][operation][result]
        uint64_t sync[2][2][3] = {};
        SaveHistogram saves[2];
        int64_t openConnections = 0;
        uint64_t closedForTimeout = 0;
        uint64_t closedForBudget = 0;
        uint64_t closedForHeaderTimeout = 0;
        uint64_t closedIdleAtCap = 0;
        uint64_t refusedForAddressCap = 0;
        uint64_t refusedProxyHeader = 0;
        bool syncServing = false;
        // The last successful backup: seconds since the epoch (0: none yet) and its bytes.
        double lastBackupTime = 0;
        uint64_t lastBackupBytes = 0;
        bool haveStores = false;
        StoreSizes stores;
    };

    static Metrics& instance();

    // One answered request: its path (unknown paths count as "other"), the status sent,
    // the request body's bytes and the response's bytes on the wire.
    void requestAnswered(const std::string& path, int status, uint64_t bytesIn, uint64_t bytesOut);
    void syncDone(Collection collection, SyncOperation operation, SyncResult result);
    void saveTook(Collection collection, double seconds);
    void connectionOpened() { openConnections_.fetch_add(1, std::memory_order_relaxed); }
    void connectionClosed() { openConnections_.fetch_sub(1, std::memory_order_relaxed); }
    // A request or connection given up because the client was too slow, or because
    // it would have taken more buffer than its budget.
    void closedForTimeout() { closedForTimeout_.fetch_add(1, std::memory_order_relaxed); }
    void closedForBudget() { closedForBudget_.fetch_add(1, std::memory_order_relaxed); }
    // A connection that sent no request in time, an idle one closed to make room at the
    // connection cap, and one refused because its address held its share of the cap.
    void closedForHeaderTimeout() {
        closedForHeaderTimeout_.fetch_add(1, std::memory_order_relaxed);
    }
    void closedIdleAtCap() { closedIdleAtCap_.fetch_add(1, std::memory_order_relaxed); }
    void refusedForAddressCap() { refusedForAddressCap_.fetch_add(1, std::memory_order_relaxed); }
    // A PROXY header from a peer that is not a trusted proxy, or a trusted proxy's connection
    // without a valid one.
    void refusedProxyHeader() { refusedProxyHeader_.fetch_add(1, std::memory_order_relaxed); }
    // Whether the HTTP sync server accepts connections: a service that could not start it
    // keeps running for its management interface, and a scrape must show that.
    void setSyncServing(bool serving) { syncServing_.store(serving, std::memory_order_relaxed); }

    void backupTaken(double unixTime, uint64_t bytes) {
        lastBackupTime_.store(unixTime, std::memory_order_relaxed);
        lastBackupBytes_.store(bytes, std::memory_order_relaxed);
    }

    void setStoreSampler(StoreSampler sampler);
    Snapshot snapshot();

    // The endpoint label of a path: one of the sync server's paths, else "other".
    static std::string endpointOf(const std::string& path);

  private:
    Metrics() = default;

    std::mutex lock_;  // requests_, saves_ and sampler_
    std::map<std::pair<std::string, int>, uint64_t> requests_;
    SaveHistogram saves_[2];
    StoreSampler sampler_;
    std::atomic<uint64_t> bytesIn_{0};
    std::atomic<uint64_t> bytesOut_{0};
    std::atomic<uint64_t> sync_[2][2][3] = {};
    std::atomic<int64_t> openConnections_{0};
    std::atomic<uint64_t> closedForTimeout_{0};
    std::atomic<uint64_t> closedForBudget_{0};
    std::atomic<uint64_t> closedForHeaderTimeout_{0};
    std::atomic<uint64_t> closedIdleAtCap_{0};
    std::atomic<uint64_t> refusedForAddressCap_{0};
    std::atomic<uint64_t> refusedProxyHeader_{0};
    std::atomic<bool> syncServing_{false};
    std::atomic<double> lastBackupTime_{0};
    std::atomic<uint64_t> lastBackupBytes_{0};
};

// Measures the time from construction to destruction as one save of a collection.
class SaveTimer {
  public:
    explicit SaveTimer(Metrics::Collection collection);
    ~SaveTimer();
    SaveTimer(const SaveTimer&) = delete;
    SaveTimer& operator=(const SaveTimer&) = delete;

  private:
    Metrics::Collection collection_;
    int64_t startNs_;
};
