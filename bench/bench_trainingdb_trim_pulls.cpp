// Pulls of the training database while group commits trim the history and compact the
// file: their latency with the options file's and the compaction copy's syncs slowed to
// a second, against the same run without the slowdown. Pulls must not wait for that disk
// work, so the ratio of the two p99 latencies should stay near 1.
#include <benchmark/benchmark.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/lib/DescriptorBody.h"
#include "platform/FileOps.h"
#include "storage/CommonTrainingDb.h"
#include "tests/support/DescriptorPath.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr uint32_t kMaxSize = 2000;
constexpr uint32_t kValuesEach = 10;
constexpr auto kPhase = std::chrono::seconds(6);

// Slows the syncs of the options file and of the compaction copy.
class SlowTrimOps : public FileOps {
  public:
    std::atomic<int> delayMs{0};
    int sync(int fd) override {
        const int delay = delayMs.load();
        if (delay > 0) {
            const std::string path = descriptorPath(fd);
            if (path.find("histopt.bin") != std::string::npos ||
                path.find("histdata.bin.new") != std::string::npos)
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
        return FileOps::sync(fd);
    }
};

void makeBody(HTTPParser::IOB& body, uint32_t n, uint64_t& next) {
    makeDescriptorBody(body, n, kValuesEach, [&next] { return ++next * 0x9e3779b97f4a7c15ULL; });
}

// p99 of pull latencies (ms) over one phase, while a pusher commits groups that trim and
// compact every time.
double pullP99(CommonTrainingDb& db, uint64_t& next) {
    std::atomic<bool> stop{false};
    std::thread pusher([&] {
        HTTPParser::IOB body;
        uint64_t mine = next;
        while (!stop.load()) {
            makeBody(body, 50, mine);
            uint32_t index = 0;
            db.applyPending(body, index);
            db.commitPending(kMaxSize);
        }
        next = mine;
    });
    // Pulls are due every 2 ms and each is timed from when it was due, so a pull that
    // waits also counts against the ones that could not start meanwhile.
    std::vector<double> latencies;
    const auto begin = std::chrono::steady_clock::now();
    for (auto due = begin; due < begin + kPhase; due += std::chrono::milliseconds(2)) {
        std::this_thread::sleep_until(due);
        HTTPParser::IOB body;
        uint32_t newIndex = 0;
        const uint32_t end = db.end();
        db.getUpdates(end > 100 ? end - 100 : 0, body, newIndex);
        latencies.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - due)
                .count());
    }
    stop = true;
    pusher.join();
    std::sort(latencies.begin(), latencies.end());
    return latencies.empty() ? 0 : latencies[latencies.size() * 99 / 100];
}

void BM_PullsDuringSlowedTrims(benchmark::State& state) {
    for (auto _ : state) {
        TempFolder dir;
        CommonTrainingDb db;
        db.load(dir.folder());
        uint64_t next = 0;
        HTTPParser::IOB body;
        makeBody(body, kMaxSize, next);
        uint32_t index = 0;
        db.push(body, kMaxSize, index);
        SlowTrimOps ops;
        setFileOps(&ops);
        const double plain = pullP99(db, next);
        ops.delayMs = 1000;
        const double slowed = pullP99(db, next);
        setFileOps(nullptr);
        state.counters["p99_plain_ms"] = plain;
        state.counters["p99_slowed_ms"] = slowed;
        state.counters["slowed_vs_plain"] = plain > 0 ? slowed / plain : 0;
    }
}
BENCHMARK(BM_PullsDuringSlowedTrims)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
