// Cost of one access line: the service log, which keeps the day's file open and writes in
// batches, against opening, appending and closing the file around every line, both writing
// the same formatted line into a temporary folder on the same disk.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "apps/VantorSyncSvc/SvcLog.h"
#include "platform/FileSystem.h"

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/vsbench_log.XXXXXX";
        path = mkdtemp(pattern) ? std::string(pattern) + "/" : std::string("/tmp/");
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

void BM_ServiceLogLine(benchmark::State& state) {
    TempDir dir;
    SvcLog log;
    log.setFolder(dir.path);
    log.setEnabled(true);
    for (auto _ : state) {
        log.write("%s %s %s %s %d %d %d", "127.0.0.1", "workstation-17", "GET", "/get_ts_updates",
                  200, 0, 0);
    }
    log.close();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ServiceLogLine)->MinTime(2.0);

// The baseline: an existence check, an open, one write and a close per line.
void BM_OpenWriteClosePerLine(benchmark::State& state) {
    TempDir dir;
    const std::string path = dir.path + SvcLog::fileNameFor(time(nullptr));
    char line[256];
    for (auto _ : state) {
        int length =
            std::snprintf(line, sizeof line, "%s %s %s %s %s %d %d %d\r\n", "12:00:00", "127.0.0.1",
                          "workstation-17", "GET", "/get_ts_updates", 200, 0, 0);
        benchmark::DoNotOptimize(FileSystem::fileExists(path));
        FILE* file = std::fopen(path.c_str(), "ab");
        if (file != nullptr) {
            std::fwrite(line, 1, static_cast<size_t>(length), file);
            std::fclose(file);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenWriteClosePerLine)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
