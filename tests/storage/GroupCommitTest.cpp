// One save for many pushes: while it is on its way to the disk, pulls and management
// calls answer from the last durable state, and the pushes it covers stand or fall
// together.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "tests/support/FaultyFileOps.h"
#include "tests/support/FileBytes.h"
#include "tests/support/HeldSyncOps.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"
#include "tests/whitelist/WhitelistTestSupport.h"

namespace {

constexpr uint32_t kMax = 100000;

HTTPParser::IOB wlBody(std::initializer_list<Record> records) {
    std::string bytes;
    for (const Record& r : records)
        bytes += recordBytes(uint8_t(r.first), r.second);
    HTTPParser::IOB body;
    setBody(body, bytes);
    return body;
}

std::vector<Record> wlPull(CommonWhitelist& wl, uint32_t from, uint32_t& newIndex) {
    HTTPParser::IOB body;
    EXPECT_TRUE(wl.getUpdates(from, body, newIndex));
    return recordsOf(body);
}

std::string tdbPull(CommonTrainingDb& db, uint32_t from, uint32_t& newIndex) {
    HTTPParser::IOB body;
    EXPECT_TRUE(db.getUpdates(from, body, newIndex));
    return contents(body);
}

}  // namespace

TEST(WhitelistGroupCommit, PullsAnswerFromTheDurableStateWhileASaveIsHeld) {
    TempFolder dir;
    CommonWhitelist wl;
    ASSERT_TRUE(wl.load(dir.folder()));
    uint32_t index = 0;
    ASSERT_TRUE(wl.push(wlBody({{1, 1}, {1, 2}, {1, 3}}), kMax, dir.folder(), index));
    wl.trimHistory(1);  // base 2: a client at 0 gets a snapshot of the keys

    HeldSyncOps ops;
    ops.arm();
    uint32_t first = 0, second = 0;
    auto commit = std::async(std::launch::async, [&] {
        bool ok = wl.applyPending(wlBody({{1, 4}}), first);
        ok = wl.applyPending(wlBody({{0, 1}}), second) && ok;
        return wl.commitPending(dir.folder(), kMax) && ok;
    });
    ops.waitUntilHeld();

    // Neither pending change shows: not in the history, not in a snapshot.
    uint32_t newIndex = 0;
    EXPECT_TRUE(wlPull(wl, 3, newIndex).empty());
    EXPECT_EQ(newIndex, 3u);
    EXPECT_EQ(wlPull(wl, 2, newIndex), (std::vector<Record>{{1, 3}}));
    EXPECT_EQ(newIndex, 3u);
    std::vector<Record> snapshot = wlPull(wl, 0, newIndex);
    ASSERT_FALSE(snapshot.empty());
    EXPECT_EQ(snapshot.front(), Record(1, -1));  // the reset marker
    std::sort(snapshot.begin() + 1, snapshot.end());
    EXPECT_EQ(snapshot, (std::vector<Record>{{1, -1}, {1, 1}, {1, 2}, {1, 3}}));
    EXPECT_EQ(newIndex, 3u);
    EXPECT_EQ(wl.count(), 3);  // statistics answer meanwhile

    ops.release();
    ASSERT_TRUE(commit.get());
    EXPECT_EQ(first, 4u);
    EXPECT_EQ(second, 5u);
    EXPECT_EQ(wlPull(wl, 3, newIndex), (std::vector<Record>{{1, 4}, {0, 1}}));
    EXPECT_EQ(newIndex, 5u);
}

TEST(WhitelistGroupCommit, AFailedSaveFailsExactlyTheGroupItCovered) {
    TempFolder dir;
    CommonWhitelist wl;
    ASSERT_TRUE(wl.load(dir.folder()));
    uint32_t index = 0;
    ASSERT_TRUE(wl.push(wlBody({{1, 1}}), kMax, dir.folder(), index));
    {
        FaultyFileOps ops;
        ops.failAt(FaultyFileOps::Kind::sync, 1);
        ASSERT_TRUE(wl.applyPending(wlBody({{1, 5}}), index));
        ASSERT_TRUE(wl.applyPending(wlBody({{0, 1}, {1, 6}}), index));
        EXPECT_FALSE(wl.commitPending(dir.folder(), kMax));
        // The next group is saved on its own and stands.
        ASSERT_TRUE(wl.applyPending(wlBody({{1, 7}}), index));
        EXPECT_TRUE(wl.commitPending(dir.folder(), kMax));
    }
    EXPECT_EQ(index, 2u);
    for (CommonWhitelist* store : {&wl, static_cast<CommonWhitelist*>(nullptr)}) {
        CommonWhitelist reloaded;
        if (store == nullptr) {
            ASSERT_TRUE(reloaded.load(dir.folder()));
            store = &reloaded;
        }
        uint32_t newIndex = 0;
        EXPECT_EQ(wlPull(*store, 0, newIndex), (std::vector<Record>{{1, 1}, {1, 7}}));
        EXPECT_EQ(newIndex, 2u);
        EXPECT_FALSE(store->containsKey(5));
        EXPECT_FALSE(store->containsKey(6));
        EXPECT_TRUE(store->containsKey(1));
    }
}

TEST(TrainingDbGroupCommit, PullsAndManagementAnswerWhileASyncIsHeld) {
    TempFolder dir;
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    const std::string x = record(1, 1, {1}), y = record(1, 1, {2}), z = record(1, 1, {3});
    HTTPParser::IOB body;
    fill(body, x);
    uint32_t index = 0;
    ASSERT_TRUE(db.push(body, kMax, index));

    HeldSyncOps ops;
    ops.arm();
    uint32_t pushed = 0;
    auto commit = std::async(std::launch::async, [&] {
        HTTPParser::IOB pending;
        fill(pending, y);
        bool ok = db.applyPending(pending, pushed);
        fill(pending, z);
        ok = db.applyPending(pending, pushed) && ok;
        return db.commitPending(kMax) && ok;
    });
    ops.waitUntilHeld();
    uint32_t newIndex = 0;
    EXPECT_EQ(tdbPull(db, 0, newIndex), x);
    EXPECT_EQ(newIndex, 1u);
    EXPECT_EQ(tdbPull(db, 1, newIndex), "");
    EXPECT_EQ(newIndex, 1u);
    EXPECT_EQ(db.count(), 3);
    ops.release();
    ASSERT_TRUE(commit.get());
    EXPECT_EQ(pushed, 3u);
    EXPECT_EQ(tdbPull(db, 1, newIndex), y + z);
    EXPECT_EQ(newIndex, 3u);

    // A clear during a held sync waits for it, so that its answer comes once it is durable.
    ops.arm();
    commit = std::async(std::launch::async, [&] {
        HTTPParser::IOB pending;
        fill(pending, record(2, 1, {4}));
        return db.applyPending(pending, pushed) && db.commitPending(kMax);
    });
    ops.waitUntilHeld();
    auto cleared = std::async(std::launch::async, [&] { return db.clear(); });
    ops.release();
    commit.get();
    EXPECT_TRUE(cleared.get());
    EXPECT_EQ(db.count(), 0);
    EXPECT_EQ(db.end(), 0u);
    ASSERT_TRUE(db.flush());
    CommonTrainingDb reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    EXPECT_EQ(reloaded.end(), 0u);
    EXPECT_EQ(reloaded.count(), 0);
}

TEST(TrainingDbGroupCommit, AFailedSyncFailsExactlyTheGroupItCovered) {
    TempFolder dir;
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    const std::string x = record(1, 1, {1}), y = record(1, 1, {2}), z = record(1, 1, {3});
    HTTPParser::IOB body;
    uint32_t index = 0;
    fill(body, x);
    ASSERT_TRUE(db.push(body, kMax, index));
    {
        FaultyFileOps ops;
        ops.failAt(FaultyFileOps::Kind::sync, 1);
        fill(body, y);
        ASSERT_TRUE(db.applyPending(body, index));
        fill(body, record(2, 1, {1}));  // relabels x: its head is rewritten in place
        ASSERT_TRUE(db.applyPending(body, index));
        EXPECT_FALSE(db.commitPending(kMax));
        fill(body, z);
        ASSERT_TRUE(db.applyPending(body, index));
        EXPECT_TRUE(db.commitPending(kMax));
    }
    EXPECT_EQ(index, 2u);
    uint32_t newIndex = 0;
    EXPECT_EQ(tdbPull(db, 0, newIndex), x + z);
    ASSERT_TRUE(db.flush());
    CommonTrainingDb reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    EXPECT_EQ(tdbPull(reloaded, 0, newIndex), x + z);
    EXPECT_EQ(newIndex, 2u);
}

TEST(WhitelistGroupCommit, AppendedHistoryLoadsAndACleanSaveLeavesTheDesignedFiles) {
    TempFolder dir;
    const std::string historyPath = dir.file(CommonWhitelist::kHistoryFileName);
    CommonWhitelist wl;
    ASSERT_TRUE(wl.load(dir.folder()));
    uint32_t index = 0;
    ASSERT_TRUE(wl.applyPending(wlBody({{1, 1}, {1, 2}}), index));
    ASSERT_TRUE(wl.commitPending(dir.folder(), kMax, true));  // no known file end: both written
    const std::string keysBefore = readBytes(dir.file(CommonWhitelist::kKeysFileName));
    for (int64_t key = 3; key <= 5; ++key) {
        ASSERT_TRUE(wl.applyPending(wlBody({{1, key}, {0, key - 2}}), index));
        ASSERT_TRUE(wl.commitPending(dir.folder(), kMax, true));
        // Only the history grows, by the records and nothing else.
        EXPECT_EQ(readBytes(historyPath).size(), 4 + 9 * (2 + 2 * size_t(key - 2)) + 8);
    }
    EXPECT_EQ(readBytes(dir.file(CommonWhitelist::kKeysFileName)), keysBefore);
    {
        FaultyFileOps ops;
        ops.failAt(FaultyFileOps::Kind::sync, 1);
        ASSERT_TRUE(wl.applyPending(wlBody({{1, 9}}), index));
        EXPECT_FALSE(wl.commitPending(dir.folder(), kMax, true));
    }
    EXPECT_EQ(readBytes(historyPath).size(), 4 + 9 * 8 + 8u);  // the failed append is cut off

    const std::vector<Record> expected{{1, 1}, {1, 2}, {1, 3}, {0, 1},
                                       {1, 4}, {0, 2}, {1, 5}, {0, 3}};
    CommonWhitelist reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    uint32_t newIndex = 0;
    EXPECT_EQ(wlPull(reloaded, 0, newIndex), expected);
    EXPECT_EQ(newIndex, 8u);
    EXPECT_EQ(reloaded.keyCount(), 2u);
    EXPECT_TRUE(reloaded.containsKey(4) && reloaded.containsKey(5));
    // Appends go on after a load, and a clean save leaves keys and history that a plain
    // reader of keys and records takes as they are.
    ASSERT_TRUE(reloaded.applyPending(wlBody({{1, 6}}), index));
    ASSERT_TRUE(reloaded.commitPending(dir.folder(), kMax, true));
    ASSERT_TRUE(reloaded.save(dir.folder()));
    const std::string keys = readBytes(dir.file(CommonWhitelist::kKeysFileName));
    ASSERT_EQ(keys.size(), 3 * 8 + CommonWhitelist::kKeysTrailerSize);
    for (size_t i = 0; i < 3; ++i) {
        int64_t key = 0;
        std::memcpy(&key, keys.data() + 8 * i, 8);
        EXPECT_EQ(key, int64_t(4 + i));
    }
    EXPECT_EQ(readBytes(historyPath).size(), 4 + 9 * 9 + 8u);
}

// Once a group's answers are out, the committer records where the history ends for the
// next append; that append's commit then waits for one sync, its own, instead of two.
TEST(WhitelistGroupCommit, AnEndRecordedAheadLeavesTheNextCommitOneSync) {
    TempFolder dir;
    CommonWhitelist wl;
    ASSERT_TRUE(wl.load(dir.folder()));
    uint32_t index = 0;
    ASSERT_TRUE(wl.applyPending(wlBody({{1, 1}}), index));
    ASSERT_TRUE(wl.commitPending(dir.folder(), kMax, true));
    const auto syncs = [](const FaultyFileOps& ops) {
        return std::count_if(ops.events().begin(), ops.events().end(), [](const auto& event) {
            return event.kind == FaultyFileOps::Kind::sync;
        });
    };
    const auto commitSyncs = [&](int64_t key) {
        FaultyFileOps ops;
        EXPECT_TRUE(wl.applyPending(wlBody({{1, key}}), index));
        EXPECT_TRUE(wl.commitPending(dir.folder(), kMax, true));
        return syncs(ops);
    };
    commitSyncs(2);                // creates the side file
    EXPECT_EQ(commitSyncs(3), 2);  // the end record, then the append
    {
        FaultyFileOps ops;
        wl.recordEndAhead(dir.folder());
        wl.recordEndAhead(dir.folder());  // the same end again: nothing to write
        EXPECT_EQ(syncs(ops), 1);
    }
    EXPECT_EQ(commitSyncs(4), 1);
    // A load takes the folder's side file as it finds it, as after a restore.
    wl.recordEndAhead(dir.folder());
    writeBytes(dir.file(CommonWhitelist::kHistoryEndFileName), std::string(20, '\0'));
    ASSERT_TRUE(wl.load(dir.folder()));
    EXPECT_EQ(commitSyncs(5), 2);
    CommonWhitelist reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    EXPECT_EQ(reloaded.keyCount(), 5u);
}

namespace {

HTTPParser::IOB tdbBody(const std::string& bytes) {
    HTTPParser::IOB body;
    fill(body, bytes);
    return body;
}

// Pulls and reloads agree on what the store holds from index 0.
void expectHeld(CommonTrainingDb& db, const std::string& folder, const std::string& held,
                uint32_t end) {
    uint32_t newIndex = 0;
    EXPECT_EQ(tdbPull(db, 0, newIndex), held);
    EXPECT_EQ(newIndex, end);
    ASSERT_TRUE(db.flush());
    CommonTrainingDb reloaded;
    ASSERT_TRUE(reloaded.load(folder));
    EXPECT_EQ(tdbPull(reloaded, 0, newIndex), held);
    EXPECT_EQ(newIndex, end);
}

}  // namespace

TEST(TrainingDbGroupCommit, PushesAfterAClearInTheSameGroupKeepTheirNumbers) {
    TempFolder dir;
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    const std::string x = record(1, 1, {1}), y = record(1, 1, {2}), z = record(1, 1, {3}),
                      w = record(1, 1, {4});
    uint32_t index = 0;
    ASSERT_TRUE(db.push(tdbBody(x), kMax, index));
    ASSERT_TRUE(db.applyPending(tdbBody(y), index));
    db.clear();
    ASSERT_TRUE(db.applyPending(tdbBody(z), index));
    EXPECT_EQ(index, 1u);
    // x again after the clear: out of reach, so a change again.
    ASSERT_TRUE(db.applyPending(tdbBody(w + x), index));
    EXPECT_EQ(index, 3u);
    uint32_t newIndex = 9;
    EXPECT_EQ(tdbPull(db, 0, newIndex), "");  // nothing of the group is durable yet
    EXPECT_EQ(newIndex, 0u);
    ASSERT_TRUE(db.commitPending(kMax));
    ASSERT_TRUE(db.push(tdbBody(record(1, 1, {5})), kMax, index));
    EXPECT_EQ(index, 4u);  // no index told twice
    expectHeld(db, dir.folder(), z + w + x + record(1, 1, {5}), 4);
}

// While a commit's disk work is held, pulls answer; a group that fails takes nothing
// with it that a pull could have seen, and a push from another thread waits for the
// commit in flight instead of ending it.
TEST(TrainingDbGroupCommit, HeldDiskWorkLeavesPullsAnsweringAndFailsOnlyItsGroup) {
    struct Case {
        const char* held;  // the file whose sync is held
        bool fail;
        uint32_t maxSize;
    };
    for (const Case& c : {Case{"histdata.bin", true, kMax}, Case{"histopt.bin", false, 2},
                          Case{"histdata.bin.new", false, 2}}) {
        SCOPED_TRACE(c.held);
        TempFolder dir;
        CommonTrainingDb db;
        ASSERT_TRUE(db.load(dir.folder()));
        const std::string x = record(1, 1, {1}), y = record(1, 1, {2}), z = record(1, 1, {3});
        uint32_t index = 0;
        ASSERT_TRUE(db.push(tdbBody(x + y), kMax, index));

        HeldSyncOps ops;
        ops.arm(std::string("/") + c.held, c.fail);
        auto commit = std::async(std::launch::async, [&] {
            uint32_t pushed = 0;
            // Relabels x, whose old record must not change before the new one is durable.
            return db.applyPending(tdbBody(record(2, 1, {1}) + z), pushed) &&
                   db.commitPending(c.maxSize);
        });
        ops.waitUntilHeld();
        auto pull = std::async(std::launch::async, [&] {
            uint32_t newIndex = 0;
            return tdbPull(db, 0, newIndex);
        });
        ASSERT_EQ(pull.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        const std::string pulled = pull.get();
        if (std::string(c.held) != "histdata.bin.new") {
            EXPECT_EQ(pulled, x + y);
        }
        auto other = std::async(std::launch::async, [&] {
            uint32_t newIndex = 0;
            return db.push(tdbBody(record(1, 1, {4})), kMax, newIndex);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // lets it reach the store
        ops.release();
        EXPECT_EQ(commit.get(), !c.fail);
        EXPECT_TRUE(other.get());
        if (c.fail) {
            expectHeld(db, dir.folder(), x + y + record(1, 1, {4}), 3);
        }
    }
}
