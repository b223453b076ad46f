#include "metrics/Metrics.h"

#include <chrono>

#include "http/SyncEndpoint.h"

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Metrics& Metrics::instance() {
    static Metrics metrics;
    return metrics;
}

std::string Metrics::endpointOf(const std::string& path) {
    HTTPParser::SyncEndpoint endpoint = HTTPParser::syncEndpointOf(path);
    return endpoint == HTTPParser::SyncEndpoint::Unknown ? "other"
                                                         : HTTPParser::syncEndpointPath(endpoint);
}

void Metrics::requestAnswered(const std::string& path, int status, uint64_t bytesIn,
                              uint64_t bytesOut) {
    bytesIn_.fetch_add(bytesIn, std::memory_order_relaxed);
    bytesOut_.fetch_add(bytesOut, std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(lock_);
    ++requests_[{endpointOf(path), status}];
}

void Metrics::syncDone(Collection collection, SyncOperation operation, SyncResult result) {
    sync_[static_cast<int>(collection)][static_cast<int>(operation)][static_cast<int>(result)]
        .fetch_add(1, std::memory_order_relaxed);
}

void Metrics::saveTook(Collection collection, double seconds) {
    std::lock_guard<std::mutex> guard(lock_);
    SaveHistogram& histogram = saves_[static_cast<int>(collection)];
    size_t bucket = 0;
    while (bucket < kSaveBuckets.size() && seconds > kSaveBuckets[bucket])
        ++bucket;
    if (bucket < kSaveBuckets.size())
        ++histogram.buckets[bucket];
    ++histogram.count;
    histogram.sumSeconds += seconds;
}

void Metrics::setStoreSampler(StoreSampler sampler) {
    std::lock_guard<std::mutex> guard(lock_);
    sampler_ = std::move(sampler);
}

Metrics::Snapshot Metrics::snapshot() {
    Snapshot snapshot;
    StoreSampler sampler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        snapshot.requests = requests_;
        snapshot.saves[0] = saves_[0];
        snapshot.saves[1] = saves_[1];
        sampler = sampler_;
    }
    snapshot.bytesIn = bytesIn_.load(std::memory_order_relaxed);
    snapshot.bytesOut = bytesOut_.load(std::memory_order_relaxed);
    for (int c = 0; c < 2; ++c)
        for (int o = 0; o < 2; ++o)
            for (int r = 0; r < 3; ++r)
                snapshot.sync[c][o][r] = sync_[c][o][r].load(std::memory_order_relaxed);
    snapshot.openConnections = openConnections_.load(std::memory_order_relaxed);
    snapshot.syncServing = syncServing_.load(std::memory_order_relaxed);
    snapshot.lastBackupTime = lastBackupTime_.load(std::memory_order_relaxed);
    snapshot.lastBackupBytes = lastBackupBytes_.load(std::memory_order_relaxed);
    snapshot.closedForTimeout = closedForTimeout_.load(std::memory_order_relaxed);
    snapshot.closedForBudget = closedForBudget_.load(std::memory_order_relaxed);
    snapshot.closedForHeaderTimeout = closedForHeaderTimeout_.load(std::memory_order_relaxed);
    snapshot.closedIdleAtCap = closedIdleAtCap_.load(std::memory_order_relaxed);
    snapshot.refusedForAddressCap = refusedForAddressCap_.load(std::memory_order_relaxed);
    snapshot.refusedProxyHeader = refusedProxyHeader_.load(std::memory_order_relaxed);
    // Outside the lock: the sampler takes the stores' own locks.
    if (sampler) {
        snapshot.stores = sampler();
        snapshot.haveStores = true;
    }
    return snapshot;
}

SaveTimer::SaveTimer(Metrics::Collection collection) : collection_(collection), startNs_(nowNs()) {}

SaveTimer::~SaveTimer() {
    Metrics::instance().saveTook(collection_, static_cast<double>(nowNs() - startNs_) / 1e9);
}
