// Figures of the common whitelist with one million random keys and a full
// history of 100000 records: memory per key, a full-snapshot pull against one
// memcpy of the same bytes (made by the store, and answered by the server from the
// shared snapshot), a push with trim and crash-safe save, and a load against plain
// freads of the same files.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "apps/VantorSyncSvc/SnapshotCache.h"
#include "http/HTTPResponse.h"
#include "http/IOB.h"
#include "net/HttpServer.h"
#include "platform/FileSystem.h"
#include "storage/CommonWhitelist.h"
#include "storage/WhitelistChange.h"

namespace {

constexpr size_t kKeys = 1000000;
constexpr uint32_t kHistoryLimit = 100000;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The baseline of the pull benchmarks: copying as many bytes as the answer holds.
double timedCopy(std::vector<uint8_t>& target, const std::vector<uint8_t>& source) {
    const Clock::time_point start = Clock::now();
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::ClobberMemory();
    return secondsSince(start);
}

struct SharedStore {
    CommonWhitelist store;
    size_t heapBytes = 0;  // malloc'd bytes of the whole store after building it
    std::string folder;
    std::mt19937_64 random{20240611};

    SharedStore() {
        const size_t before = mallinfo2().uordblks;
        for (size_t added = 0; added < kKeys;) {
            if (store.addKey(int64_t(random())) && store.keyCount() > added)
                ++added;
        }
        store.trimHistory(kHistoryLimit);
        heapBytes = mallinfo2().uordblks - before;

        char pattern[] = "/tmp/vsbenchwlXXXXXX";
        folder = std::string(mkdtemp(pattern)) + "/";
        store.save(folder);
    }
    ~SharedStore() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

SharedStore& shared() {
    static SharedStore instance;
    return instance;
}

void BM_MemoryPerKey(benchmark::State& state) {
    SharedStore& s = shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.heapBytes);
    const double keys = double(s.store.keyCount());
    const double history = double(s.store.historyMemoryBytes());
    state.counters["keys"] = keys;
    state.counters["history_records"] = s.store.count();
    state.counters["bytes_per_key"] = (double(s.heapBytes) - history) / keys;
    state.counters["bytes_per_key_with_history"] = double(s.heapBytes) / keys;
}
BENCHMARK(BM_MemoryPerKey)->Iterations(1);

void BM_SnapshotPullVsMemcpy(benchmark::State& state) {
    SharedStore& s = shared();
    HTTPParser::IOB body;
    const size_t bytes = (s.store.keyCount() + 1) * WhitelistChange::kSize;
    std::vector<uint8_t> source(bytes, 1), target(bytes, 0);
    double pullSeconds = 0, memcpySeconds = 0;
    for (auto _ : state) {
        uint32_t newIndex = 0;
        Clock::time_point start = Clock::now();
        bool ok = s.store.getUpdates(0, body, newIndex);  // 0 lies before historyBase
        pullSeconds += secondsSince(start);
        if (!ok || body.length() != bytes)
            state.SkipWithError("snapshot pull failed");

        memcpySeconds += timedCopy(target, source);
    }
    const double n = double(state.iterations());
    state.counters["pull_ms"] = 1e3 * pullSeconds / n;
    state.counters["memcpy_ms"] = 1e3 * memcpySeconds / n;
    state.counters["pull_vs_memcpy"] = pullSeconds / memcpySeconds;
    state.SetBytesProcessed(int64_t(bytes) * state.iterations());
}
BENCHMARK(BM_SnapshotPullVsMemcpy)->Iterations(40)->Unit(benchmark::kMillisecond);

// What the server does for a snapshot pull before the kernel takes the bytes: the answer
// from the shared snapshot (built by the first pull of a state, counted apart) and its head.
void BM_SharedSnapshotPullVsMemcpy(benchmark::State& state) {
    SharedStore& s = shared();
    SnapshotCache cache;
    const size_t bytes = (s.store.keyCount() + 1) * WhitelistChange::kSize;
    std::vector<uint8_t> source(bytes, 1), target(bytes, 0);
    double firstSeconds = 0, pullSeconds = 0, memcpySeconds = 0;
    bool first = true;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        SnapshotCache::Answer body;
        uint32_t newIndex = 0;
        bool ok = cache.answer(s.store, 0, body, newIndex) && body != nullptr;
        HTTPParser::HTTPResponse response = HttpServer::makeOkResponse();
        response.add("newIndex", std::to_string(newIndex));
        response.setSharedBody(body);
        HTTPParser::IOB head;
        ok = ok && response.serialize(head);
        (first ? firstSeconds : pullSeconds) += secondsSince(start);
        first = false;
        if (!ok || body->length() != bytes)
            state.SkipWithError("snapshot pull failed");

        memcpySeconds += timedCopy(target, source);
    }
    const double n = double(state.iterations());
    state.counters["first_pull_ms"] = 1e3 * firstSeconds;
    state.counters["pull_ms"] = 1e3 * pullSeconds / (n - 1);
    state.counters["memcpy_ms"] = 1e3 * memcpySeconds / n;
    state.counters["pull_vs_memcpy"] = (pullSeconds / (n - 1)) / (memcpySeconds / n);
    state.counters["first_pull_vs_memcpy"] = firstSeconds / (memcpySeconds / n);
}
BENCHMARK(BM_SharedSnapshotPullVsMemcpy)->Iterations(40)->Unit(benchmark::kMillisecond);

void BM_PushTrimSave(benchmark::State& state) {
    SharedStore& s = shared();
    double bytesWritten = 0;
    for (auto _ : state) {
        HTTPParser::IOB body;
        uint8_t record[WhitelistChange::kSize];
        for (int i = 0; i < 100; ++i) {
            WhitelistChange{WhitelistChange::kAdded, int64_t(s.random())}.encode(record);
            body.append(record, sizeof(record));
        }
        uint32_t newIndex = 0;
        // The push as the service makes it: applied, saved trimmed, then trimmed.
        if (!s.store.push(body, kHistoryLimit, s.folder, newIndex))
            state.SkipWithError("save failed");
        bytesWritten = double(FileSystem::fileSize(s.folder + CommonWhitelist::kKeysFileName) +
                              FileSystem::fileSize(s.folder + CommonWhitelist::kHistoryFileName));
    }
    state.counters["bytes_written"] = bytesWritten;
    state.counters["history_records"] = s.store.count();
}
BENCHMARK(BM_PushTrimSave)->Iterations(20)->Unit(benchmark::kMillisecond);

size_t freadWhole(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return 0;
    const long long size = FileSystem::fileSize(path);
    std::unique_ptr<char[]> buffer(new char[size_t(size)]);
    const size_t got = std::fread(buffer.get(), 1, size_t(size), file);
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.get());
    return got;
}

void BM_LoadVsFread(benchmark::State& state) {
    SharedStore& s = shared();
    s.store.save(s.folder);
    const std::string keysPath = s.folder + CommonWhitelist::kKeysFileName;
    const std::string historyPath = s.folder + CommonWhitelist::kHistoryFileName;
    double loadSeconds = 0, keysFreadSeconds = 0, bothFreadSeconds = 0;
    for (auto _ : state) {
        auto fresh = std::make_unique<CommonWhitelist>();
        Clock::time_point start = Clock::now();
        bool ok = fresh->load(s.folder);
        loadSeconds += secondsSince(start);
        if (!ok || fresh->keyCount() != s.store.keyCount())
            state.SkipWithError("load failed");

        start = Clock::now();
        freadWhole(keysPath);
        keysFreadSeconds += secondsSince(start);
        start = Clock::now();
        freadWhole(keysPath);
        freadWhole(historyPath);
        bothFreadSeconds += secondsSince(start);
    }
    const double n = double(state.iterations());
    state.counters["load_ms"] = 1e3 * loadSeconds / n;
    state.counters["fread_keys_ms"] = 1e3 * keysFreadSeconds / n;
    state.counters["load_vs_fread_keys"] = loadSeconds / keysFreadSeconds;
    state.counters["load_vs_fread_both"] = loadSeconds / bothFreadSeconds;
}
BENCHMARK(BM_LoadVsFread)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
