// Training database store: pushes below and at the maximum size, pulls, memory.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <algorithm>
#include <chrono>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/lib/DescriptorBody.h"
#include "platform/FileSystem.h"
#include "storage/CommonTrainingDb.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr uint32_t kDescriptors = 100000;
constexpr uint32_t kValuesEach = 50;
constexpr uint32_t kPushSize = 100;
constexpr uint32_t kUnlimited = 100000000;

uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A push body of n new descriptors with random values.
void makeBody(HTTPParser::IOB& body, uint32_t n, uint64_t& seed) {
    makeDescriptorBody(body, n, kValuesEach, [&seed] { return nextRandom(seed); });
}

// Bytes this process has handed to write(2) so far.
long long bytesWritten() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:")
            return value;
    }
    return 0;
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Store {
    TempFolder folder;
    CommonTrainingDb db;
    uint64_t seed = 42;

    Store() {
        db.load(folder.folder());
        HTTPParser::IOB body;
        uint32_t newIndex = 0;
        for (uint32_t done = 0; done < kDescriptors; done += 1000) {
            makeBody(body, 1000, seed);
            db.postUpdates(body, newIndex);
            db.trimHistory(kUnlimited);
            db.reopen();
        }
    }
    std::string dataPath() const { return folder.file("histdata.bin"); }
};

Store& store() {
    static Store instance;
    return instance;
}

// One sequential pass over the data file, the floor for any full pull.
double readDataFileOnce(const std::string& path) {
    auto start = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<char> chunk(1 << 16);
    size_t total = 0, got = 0;
    while (f != nullptr && (got = std::fread(chunk.data(), 1, chunk.size(), f)) > 0)
        total += got;
    if (f != nullptr)
        std::fclose(f);
    benchmark::DoNotOptimize(total);
    return seconds(std::chrono::steady_clock::now() - start);
}

// Writing the data file's bytes once with fwrite, the floor for a compaction
// (median of five, each into a new file as a compaction does).
double writeDataFileOnce(const std::string& source, bool sync) {
    std::string bytes;
    FileSystem::readFile(source, bytes);
    const std::string target = source + ".baseline";
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        FILE* f = std::fopen(target.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        if (sync) {
            std::fflush(f);
            fsync(fileno(f));
        }
        std::fclose(f);
        runs.push_back(seconds(std::chrono::steady_clock::now() - start));
        std::remove(target.c_str());
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

void BM_MemoryPerDescriptor(benchmark::State& state) {
    Store& s = store();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.db.memoryBytes());
    state.counters["descriptors"] = double(s.db.count());
    state.counters["bytes_per_descriptor"] = double(s.db.memoryBytes()) / double(s.db.count());
}

void BM_PullNewest10(benchmark::State& state) {
    Store& s = store();
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    for (auto _ : state)
        s.db.getUpdates(s.db.end() - 10, body, newIndex);
    state.counters["body_bytes"] = double(body.length());
}

void BM_PullAll(benchmark::State& state) {
    Store& s = store();
    uint32_t newIndex = 0;
    double pullTime = 0, readTime = 0;
    size_t length = 0;
    for (auto _ : state) {
        // Page after page, as a new client syncs.
        auto start = std::chrono::steady_clock::now();
        length = 0;
        for (uint32_t index = s.db.historyBase(); index < s.db.end(); index = newIndex) {
            HTTPParser::IOB body;
            if (!s.db.getUpdates(index, body, newIndex) || newIndex <= index)
                break;
            length += body.length();
        }
        pullTime += seconds(std::chrono::steady_clock::now() - start);
        state.PauseTiming();
        readTime += readDataFileOnce(s.dataPath());
        state.ResumeTiming();
    }
    state.counters["body_bytes"] = double(length);
    state.counters["x_sequential_read"] = pullTime / readTime;
}

void BM_PushBelowMaximum(benchmark::State& state) {
    Store& s = store();
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    long long written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        makeBody(body, kPushSize, s.seed);
        const long long before = bytesWritten();
        state.ResumeTiming();
        s.db.push(body, kUnlimited, newIndex);
        state.PauseTiming();
        written += bytesWritten() - before;
        state.ResumeTiming();
    }
    state.counters["descriptors_per_s"] = benchmark::Counter(
        double(kPushSize) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes_written_per_push"] = double(written) / double(state.iterations());
}

void BM_PushAtMaximum(benchmark::State& state) {
    Store& s = store();
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    s.db.trimHistory(kDescriptors);  // down to the maximum before measuring
    s.db.reopen();
    double pushTime = 0;
    long long written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        makeBody(body, kPushSize, s.seed);
        const long long before = bytesWritten();
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        s.db.push(body, kDescriptors, newIndex);
        pushTime += seconds(std::chrono::steady_clock::now() - start);
        state.PauseTiming();
        written += bytesWritten() - before;
        state.ResumeTiming();
    }
    const double perPush = pushTime / double(state.iterations());
    state.counters["bytes_written_per_push"] = double(written) / double(state.iterations());
    state.counters["x_fwrite"] = perPush / writeDataFileOnce(s.dataPath(), false);
    state.counters["x_fwrite_fsync"] = perPush / writeDataFileOnce(s.dataPath(), true);
    state.counters["data_file_bytes"] = double(FileSystem::fileSize(s.dataPath()));
}

}  // namespace

BENCHMARK(BM_MemoryPerDescriptor)->Iterations(1);
BENCHMARK(BM_PullNewest10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PullAll)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PushBelowMaximum)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_PushAtMaximum)->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK_MAIN();
