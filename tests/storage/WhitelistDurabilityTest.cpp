// The whitelist's files through crashes at every file operation of a rewrite, torn
// appends, restarts without a clean stop, a disk that stops taking writes, and a push of
// the old single-call kind while the committer's save is on its way to the disk.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <thread>

#include <zlib.h>

#include "storage/CommonWhitelist.h"
#include "tests/support/FaultyFileOps.h"
#include "tests/support/FileBytes.h"
#include "tests/support/HeldSyncOps.h"
#include "tests/support/TempFolder.h"
#include "tests/whitelist/WhitelistTestSupport.h"

namespace {

using Kind = FaultyFileOps::Kind;
constexpr uint32_t kMax = 1000;

// Adds of the keys from..to-1.
HTTPParser::IOB adds(int64_t from, int64_t to) {
    std::string bytes;
    for (int64_t key = from; key < to; ++key)
        bytes += recordBytes(1, key);
    HTTPParser::IOB body;
    setBody(body, bytes);
    return body;
}

bool commitGroup(CommonWhitelist& store, const std::string& folder, int64_t from, int64_t to) {
    uint32_t newIndex = 0;
    const bool applied = store.applyPending(adds(from, to), newIndex);
    return store.commitPending(folder, kMax, true) && applied;
}

size_t keysHeld(CommonWhitelist& store, int64_t from, int64_t to) {
    size_t held = 0;
    for (int64_t key = from; key < to; ++key)
        held += store.containsKey(key);
    return held;
}

void copyStore(const TempFolder& from, const TempFolder& to) {
    for (const char* name : {CommonWhitelist::kKeysFileName, CommonWhitelist::kHistoryFileName})
        writeBytes(to.file(name), readBytes(from.file(name)));
}

std::vector<Record> pull(CommonWhitelist& store, uint32_t from) {
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    EXPECT_TRUE(store.getUpdates(from, body, newIndex));
    return recordsOf(body);
}

}  // namespace

// Keys 0..59999 were acknowledged, in two commits, one of which left them in the history
// file only. A crash at any file operation of the next rewrite (the periodic one that a
// large group sets off, or the one of a clean stop) keeps every one of them, and keeps the
// group whole or leaves it out entirely, as its answer said.
TEST(WhitelistRewriteCrash, EveryCrashPointKeepsEveryAcknowledgedKey) {
    TempFolder original;
    {
        CommonWhitelist store;
        ASSERT_TRUE(store.load(original.folder()));
        ASSERT_TRUE(commitGroup(store, original.folder(), 0, 40000));
        ASSERT_TRUE(commitGroup(store, original.folder(), 40000, 60000));
    }
    const int64_t groupEnd = 60000 + int64_t(CommonWhitelist::kAppendLimit) + 10;
    auto run = [&](bool atStop, const std::string& folder) {
        CommonWhitelist store;
        store.load(folder);
        return atStop ? store.save(folder, kMax) : commitGroup(store, folder, 60000, groupEnd);
    };
    for (bool atStop : {false, true}) {
        // A crash while a temporary file is written leaves what the operation before left.
        std::vector<int> crashPoints;
        {
            TempFolder dry;
            copyStore(original, dry);
            FaultyFileOps ops;
            ASSERT_TRUE(run(atStop, dry.folder()));
            for (size_t i = 0; i < ops.events().size(); ++i) {
                const auto& event = ops.events()[i];
                const bool intoTemporary =
                    event.kind == Kind::write && event.path.find(".tmp") != std::string::npos;
                if (!intoTemporary)
                    crashPoints.push_back(int(i) + 1);
            }
            crashPoints.push_back(int(ops.events().size()) + 1);  // no crash at all
        }
        for (int n : crashPoints) {
            SCOPED_TRACE(std::string(atStop ? "stop" : "periodic") + ", crash at operation " +
                         std::to_string(n));
            TempFolder dir;
            copyStore(original, dir);
            int report[2];
            ASSERT_EQ(pipe(report), 0);
            const pid_t child = fork();
            if (child == 0) {
                FaultyFileOps ops;
                ops.crashAt(n);
                CommonWhitelist store;
                store.load(dir.folder());
                const bool acknowledged = atStop
                                              ? store.save(dir.folder(), kMax)
                                              : commitGroup(store, dir.folder(), 60000, groupEnd);
                if (acknowledged)
                    (void)!write(report[1], "A", 1);
                _exit(3);
            }
            close(report[1]);
            char byte = 0;
            const bool acknowledged = read(report[0], &byte, 1) == 1;
            close(report[0]);
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_EQ(WIFEXITED(status) && WEXITSTATUS(status) == 0, n != crashPoints.back());

            CommonWhitelist loaded;
            ASSERT_TRUE(loaded.load(dir.folder()));
            EXPECT_EQ(keysHeld(loaded, 0, 60000), 60000u);
            if (!atStop) {
                const size_t group = keysHeld(loaded, 60000, groupEnd);
                EXPECT_TRUE(group == 0 || group == size_t(groupEnd - 60000)) << group;
                if (acknowledged) {
                    EXPECT_EQ(group, size_t(groupEnd - 60000));
                }
                EXPECT_EQ(loaded.end(), uint32_t(group == 0 ? 60000 : groupEnd));
            } else {
                EXPECT_EQ(loaded.end(), 60000u);
            }
        }
    }
}

// A power loss during an append can leave the file at its new length with pages of it
// never written. The load finds the group that is not whole and cuts it; nothing of it
// is served, and the store goes on from the state before it.
TEST(WhitelistTornAppend, AGroupThatIsNotWholeIsCut) {
    TempFolder dir;
    const std::string historyPath = dir.file(CommonWhitelist::kHistoryFileName);
    std::string before, after, keys;
    {
        CommonWhitelist store;
        ASSERT_TRUE(store.load(dir.folder()));
        ASSERT_TRUE(commitGroup(store, dir.folder(), 1, 3));
        ASSERT_TRUE(commitGroup(store, dir.folder(), 3, 4));
        before = readBytes(historyPath);
        ASSERT_TRUE(commitGroup(store, dir.folder(), 4, 1000));
        after = readBytes(historyPath);
        keys = readBytes(dir.file(CommonWhitelist::kKeysFileName));
    }
    const size_t grown = after.size() - before.size();
    const size_t oldEnd = before.size() - CommonWhitelist::kHistoryTrailerSize;
    const std::string trailer = after.substr(after.size() - CommonWhitelist::kHistoryTrailerSize);
    struct Torn {
        const char* name;
        std::string bytes;
    };
    for (const Torn& torn :
         {Torn{"nothing of the group written", before + std::string(grown, '\0')},
          Torn{"only the group's last page written",
               before + std::string(grown - trailer.size(), '\0') + trailer},
          Torn{"the group's last page lost",
               before + after.substr(before.size(), 4096) + std::string(grown - 4096, '\0')},
          // The old trailer is gone: only the end recorded before the append tells.
          Torn{"the group's first sector written over the old trailer",
               after.substr(0, oldEnd + 512) + std::string(after.size() - oldEnd - 512, '\0')},
          Torn{"the group's first sector written, the rest not yet",
               after.substr(0, oldEnd + 512)}}) {
        SCOPED_TRACE(torn.name);
        writeBytes(historyPath, torn.bytes);
        writeBytes(dir.file(CommonWhitelist::kKeysFileName), keys);
        const std::vector<std::string> problems = CommonWhitelist::checkFiles(dir.folder());
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find("did not complete"), std::string::npos) << problems[0];
        CommonWhitelist loaded;
        ASSERT_TRUE(loaded.load(dir.folder()));
        EXPECT_EQ(loaded.end(), 3u);
        EXPECT_EQ(loaded.keyCount(), 3u);
        EXPECT_EQ(pull(loaded, 0), (std::vector<Record>{{1, 1}, {1, 2}, {1, 3}}));
        // The next commit writes both files anew, and the store goes on from there.
        ASSERT_TRUE(commitGroup(loaded, dir.folder(), 7, 8));
        CommonWhitelist reloaded;
        ASSERT_TRUE(reloaded.load(dir.folder()));
        EXPECT_EQ(pull(reloaded, 0), (std::vector<Record>{{1, 1}, {1, 2}, {1, 3}, {1, 7}}));
        EXPECT_TRUE(CommonWhitelist::checkFiles(dir.folder()).empty());
    }
}

// The check that a backup runs on the files: each kind of damage is named, read only.
TEST(WhitelistCheckFiles, NamesWhatIsWrong) {
    TempFolder dir;
    {
        CommonWhitelist store;
        ASSERT_TRUE(store.load(dir.folder()));
        ASSERT_TRUE(commitGroup(store, dir.folder(), 1, 5));
        ASSERT_TRUE(store.save(dir.folder()));
    }
    const std::string keysPath = dir.file(CommonWhitelist::kKeysFileName);
    const std::string historyPath = dir.file(CommonWhitelist::kHistoryFileName);
    const std::string keys = readBytes(keysPath);
    const std::string history = readBytes(historyPath);
    ASSERT_TRUE(CommonWhitelist::checkFiles(dir.folder()).empty());
    struct Case {
        const char* name;
        std::string keys;
        std::string history;
        const char* problem;
    };
    // Keys 1..4 and the 7-byte trailer: dropping key 4 or swapping two keys. The history's
    // records follow its 4-byte base, each an operation byte and a key, its trailer matched.
    std::string badOp = history;
    badOp[4 + WhitelistChange::kSize] = 2;
    const uint32_t crc = uint32_t(crc32_z(0, reinterpret_cast<const uint8_t*>(badOp.data()),
                                          badOp.size() - CommonWhitelist::kHistoryTrailerSize));
    for (int i = 0; i < 4; ++i)
        badOp[badOp.size() - 4 + i] = char(crc >> (8 * i));
    for (const Case& c :
         {Case{"a key missing", keys.substr(0, 24) + keys.substr(32), history,
               "disagree on 1 keys"},
          Case{"keys out of order", keys.substr(8, 8) + keys.substr(0, 8) + keys.substr(16),
               history, "ascending"},
          Case{"stray bytes", keys + "xy", history, "bytes after the last whole key"},
          Case{"an operation no change has", keys, badOp, "has the operation 2"}}) {
        SCOPED_TRACE(c.name);
        writeBytes(keysPath, c.keys);
        writeBytes(historyPath, c.history);
        const std::vector<std::string> problems = CommonWhitelist::checkFiles(dir.folder());
        ASSERT_FALSE(problems.empty());
        EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
        EXPECT_EQ(readBytes(keysPath), c.keys);
    }
}

// Each restart without a clean stop counts the history file's records anew, so that the
// periodic rewrite still comes and trims the file.
TEST(WhitelistTrim, HistoryFileIsTrimmedAcrossRestartsWithoutAStop) {
    TempFolder dir;
    const int64_t group = 30000;
    for (int64_t round = 0; round < 4; ++round) {
        CommonWhitelist store;
        ASSERT_TRUE(store.load(dir.folder()));
        ASSERT_TRUE(commitGroup(store, dir.folder(), round * group, (round + 1) * group));
    }
    const size_t records = (readBytes(dir.file(CommonWhitelist::kHistoryFileName)).size() - 4) /
                           WhitelistChange::kSize;
    EXPECT_LE(records, CommonWhitelist::kAppendLimit + group);
    CommonWhitelist loaded;
    ASSERT_TRUE(loaded.load(dir.folder()));
    EXPECT_EQ(loaded.end(), uint32_t(4 * group));
    EXPECT_EQ(keysHeld(loaded, 0, 4 * group), size_t(4 * group));
    EXPECT_EQ(pull(loaded, 0).front(), Record(1, -1));  // a snapshot, not every change
}

// A failed append whose cut-back fails too leaves the files holding a push that was
// answered as failed. The store then takes no push until it has written its own state
// over them, and a later load shows none of the refused pushes.
TEST(WhitelistDoubleFault, AStoreThatCannotRestoreItsFilesRefusesPushes) {
    TempFolder dir;
    CommonWhitelist store;
    ASSERT_TRUE(store.load(dir.folder()));
    ASSERT_TRUE(commitGroup(store, dir.folder(), 1, 2));
    {
        FaultyFileOps ops;
        // The old end is recorded (a new file: synced with its folder) and the group's
        // records go out; their sync and the cut-back do not.
        ops.failFrom(Kind::write, 3);
        ops.failFrom(Kind::truncate, 1);
        ops.failFrom(Kind::sync, 3);
        EXPECT_FALSE(commitGroup(store, dir.folder(), 2, 3));
        EXPECT_FALSE(commitGroup(store, dir.folder(), 3, 4));
        EXPECT_EQ(pull(store, 0), (std::vector<Record>{{1, 1}}));
    }
    // The disk takes writes again: the next commit restores the files first.
    EXPECT_FALSE(commitGroup(store, dir.folder(), 4, 5));
    EXPECT_TRUE(commitGroup(store, dir.folder(), 5, 6));
    CommonWhitelist reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    EXPECT_EQ(pull(reloaded, 0), (std::vector<Record>{{1, 1}, {1, 5}}));
}

// A push made in one call waits until the committer's group has ended, instead of
// ending it (and exposing its changes to pulls) while the committer's sync is under way.
TEST(WhitelistGroupCommit, APushInOneCallWaitsForTheCommittersSave) {
    TempFolder dir;
    CommonWhitelist store;
    ASSERT_TRUE(store.load(dir.folder()));
    ASSERT_TRUE(commitGroup(store, dir.folder(), 1, 2));
    HeldSyncOps ops;
    ops.arm();
    auto committer =
        std::async(std::launch::async, [&] { return commitGroup(store, dir.folder(), 2, 3); });
    ops.waitUntilHeld();
    auto single = std::async(std::launch::async, [&] {
        uint32_t newIndex = 0;
        return store.push(adds(3, 4), kMax, dir.folder(), newIndex) && newIndex == 3;
    });
    EXPECT_EQ(single.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_EQ(pull(store, 0), (std::vector<Record>{{1, 1}}));
    ops.release();
    EXPECT_TRUE(committer.get());
    EXPECT_TRUE(single.get());
    CommonWhitelist reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    EXPECT_EQ(pull(reloaded, 0), (std::vector<Record>{{1, 1}, {1, 2}, {1, 3}}));
}
