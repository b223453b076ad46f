// Both stores under failing, short and silently dropped file operations: every failure
// fails the push and leaves no trace, and what is acknowledged was synced in order.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/FileSystem.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "tests/support/FaultyFileOps.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"

namespace {

using Kind = FaultyFileOps::Kind;

std::string realFolder(const TempFolder& dir) {
    char resolved[PATH_MAX];
    return realpath(dir.path().c_str(), resolved) ? std::string(resolved) : dir.path();
}

HTTPParser::IOB wlBody(std::initializer_list<int64_t> added) {
    HTTPParser::IOB body;
    for (int64_t key : added) {
        uint8_t record[WhitelistChange::kSize];
        WhitelistChange{WhitelistChange::kAdded, key}.encode(record);
        body.append(record, sizeof record);
    }
    return body;
}

std::string wlPull(CommonWhitelist& store, uint32_t from) {
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    store.getUpdates(from, body, newIndex);
    return std::string(body.chars(), body.length()) + "@" + std::to_string(newIndex);
}

std::string tdbPull(CommonTrainingDb& db, uint32_t from) {
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    db.getUpdates(from, body, newIndex);
    return contents(body) + "@" + std::to_string(newIndex);
}

std::vector<std::string> tempFiles(const TempFolder& dir) {
    std::vector<std::string> found;
    for (const std::string& name : FileSystem::listFolder(dir.path())) {
        if (name.find(".tmp") != std::string::npos || name.find(".new") != std::string::npos)
            found.push_back(name);
    }
    return found;
}

// Every rename of a temporary file follows a sync of that file after its last write,
// and a sync of the folder follows the rename before the next one.
void expectSyncedInOrder(const std::vector<FaultyFileOps::Event>& events,
                         const std::string& folder) {
    int renames = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind != Kind::rename)
            continue;
        ++renames;
        const std::string from = events[i].path.substr(0, events[i].path.find(" -> "));
        bool synced = false;
        for (size_t j = 0; j < i; ++j) {
            if (events[j].path == from && events[j].kind == Kind::write)
                synced = false;
            if (events[j].path == from && events[j].kind == Kind::sync)
                synced = true;
        }
        EXPECT_TRUE(synced) << "renamed unsynced: " << events[i].path;
        bool folderSynced = false;
        for (size_t j = i + 1; j < events.size() && events[j].kind != Kind::rename; ++j)
            folderSynced =
                folderSynced || (events[j].kind == Kind::sync && events[j].path == folder);
        EXPECT_TRUE(folderSynced) << "folder not synced after " << events[i].path;
    }
    EXPECT_GT(renames, 0);
}

class WhitelistFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(store.load(dir.folder()));
        uint32_t newIndex = 0;
        ASSERT_TRUE(store.push(wlBody({1, 2, 3}), 100, dir.folder(), newIndex));
        pullBefore = wlPull(store, 0);
    }

    TempFolder dir;
    CommonWhitelist store;
    std::string pullBefore;
};

TEST_F(WhitelistFaults, AcknowledgedPushWasSyncedBeforeEveryRename) {
    FaultyFileOps ops;
    uint32_t newIndex = 0;
    ASSERT_TRUE(store.push(wlBody({9}), 100, dir.folder(), newIndex));
    expectSyncedInOrder(ops.events(), realFolder(dir));
}

// Once the push's records are synced into the history file it stands, whatever becomes of
// the rewrite of both files that follows; before that, a failure leaves no trace.
TEST_F(WhitelistFaults, EveryFailedOperationFailsThePushWithoutTraceOrLetsItStand) {
    int counts[5] = {};
    {
        // A dry run on a copy of the state counts the operations of one push.
        TempFolder other;
        CommonWhitelist copy;
        ASSERT_TRUE(copy.load(other.folder()));
        uint32_t newIndex = 0;
        ASSERT_TRUE(copy.push(wlBody({1, 2, 3}), 100, other.folder(), newIndex));
        FaultyFileOps ops;
        ASSERT_TRUE(copy.push(wlBody({9}), 100, other.folder(), newIndex));
        for (const auto& event : ops.events())
            ++counts[int(event.kind)];
    }
    ASSERT_EQ(counts[int(Kind::rename)], 2);
    const std::string pullWith9 = [&] {
        TempFolder other;
        CommonWhitelist copy;
        uint32_t newIndex = 0;
        copy.push(wlBody({1, 2, 3}), 100, other.folder(), newIndex);
        copy.push(wlBody({9}), 100, other.folder(), newIndex);
        return wlPull(copy, 0);
    }();
    int stood = 0, failed = 0;
    for (Kind kind : {Kind::write, Kind::flush, Kind::sync, Kind::truncate, Kind::rename}) {
        for (int n = 1; n <= counts[int(kind)]; ++n) {
            for (bool shortWrite : {false, true}) {
                if (shortWrite && kind != Kind::write)
                    continue;
                SCOPED_TRACE(std::to_string(int(kind)) + " " + std::to_string(n) +
                             (shortWrite ? " short" : ""));
                TempFolder dir;
                CommonWhitelist store;
                ASSERT_TRUE(store.load(dir.folder()));
                uint32_t newIndex = 0;
                ASSERT_TRUE(store.push(wlBody({1, 2, 3}), 100, dir.folder(), newIndex));
                bool ok;
                {
                    FaultyFileOps ops;
                    if (shortWrite)
                        ops.shortWriteAt(n);
                    else
                        ops.failAt(kind, n);
                    ok = store.push(wlBody({9}), 100, dir.folder(), newIndex);
                }
                ++(ok ? stood : failed);
                const std::string expected = ok ? pullWith9 : pullBefore;
                EXPECT_EQ(wlPull(store, 0), expected);
                EXPECT_EQ(store.containsKey(9), ok);
                EXPECT_TRUE(tempFiles(dir).empty());
                CommonWhitelist reloaded;
                ASSERT_TRUE(reloaded.load(dir.folder()));
                EXPECT_EQ(wlPull(reloaded, 0), expected);
                EXPECT_EQ(reloaded.containsKey(9), ok);
            }
        }
    }
    EXPECT_GT(stood, 0);
    EXPECT_GT(failed, 0);
}

class TrainingDbFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(db.load(dir.folder()));
        HTTPParser::IOB body;
        fill(body, record(1, 1, {10}) + record(1, 1, {20}) + record(1, 1, {30}));
        uint32_t newIndex = 0;
        ASSERT_TRUE(db.push(body, 3, newIndex));
        dataBefore = readBytes(dir.file("histdata.bin"));
        pullBefore = tdbPull(db, 0);
    }
    // A new descriptor and a relabelled one, trimmed so that the start moves.
    bool pushChange() {
        HTTPParser::IOB body;
        fill(body, record(1, 1, {40}) + record(2, 1, {20}));
        uint32_t newIndex = 0;
        return db.push(body, 3, newIndex);
    }
    void expectNoTrace() {
        EXPECT_EQ(tdbPull(db, 0), pullBefore);
        EXPECT_EQ(readBytes(dir.file("histdata.bin")), dataBefore);
        CommonTrainingDb reloaded;
        ASSERT_TRUE(reloaded.load(dir.folder()));
        EXPECT_EQ(tdbPull(reloaded, 0), pullBefore);
        // The relabel was taken back too: posting the old label again is no change.
        HTTPParser::IOB body;
        fill(body, record(1, 1, {20}));
        uint32_t newIndex = 0;
        ASSERT_TRUE(db.postUpdates(body, newIndex));
        EXPECT_EQ(newIndex, 3u);
    }

    TempFolder dir;
    CommonTrainingDb db;
    std::string dataBefore, pullBefore;
};

TEST_F(TrainingDbFaults, AcknowledgedPushSyncedTheRecordsAndTheNewStart) {
    FaultyFileOps ops;
    ASSERT_TRUE(pushChange());
    const std::string folder = realFolder(dir);
    // The appended records were synced before the start moved, and the relabelled
    // record was marked superseded only after that: never before its successor is durable.
    int firstDataWrite = -1, lastDataWrite = -1, dataSync = -1, optionsRename = -1;
    for (size_t i = 0; i < ops.events().size(); ++i) {
        const auto& event = ops.events()[i];
        if (event.path == folder + "/histdata.bin" && event.kind == Kind::write) {
            lastDataWrite = int(i);
            firstDataWrite = firstDataWrite < 0 ? int(i) : firstDataWrite;
        }
        if (event.path == folder + "/histdata.bin" && event.kind == Kind::sync && dataSync < 0)
            dataSync = int(i);
        if (event.kind == Kind::rename && event.path.find("histopt.bin") != std::string::npos &&
            optionsRename < 0)
            optionsRename = int(i);
    }
    ASSERT_GE(firstDataWrite, 0);
    EXPECT_GT(dataSync, firstDataWrite);
    EXPECT_GT(optionsRename, dataSync);
    EXPECT_GT(lastDataWrite, optionsRename);
    expectSyncedInOrder(ops.events(), folder);
}

TEST_F(TrainingDbFaults, ShortWriteFailsThePushWithoutTrace) {
    for (int n = 1; n <= 3; ++n) {
        FaultyFileOps ops;
        ops.shortWriteAt(n);
        EXPECT_FALSE(pushChange()) << n;
        expectNoTrace();
    }
}

TEST_F(TrainingDbFaults, FailedDataSyncOrStartRecordFailsThePushWithoutTrace) {
    // The first sync is the data file's, then the new start's file and its folder;
    // the first rename puts the new start in place.
    for (int n = 1; n <= 3; ++n) {
        FaultyFileOps ops;
        ops.failAt(Kind::sync, n);
        EXPECT_FALSE(pushChange()) << n;
        expectNoTrace();
    }
    FaultyFileOps ops;
    ops.failAt(Kind::rename, 1);
    EXPECT_FALSE(pushChange());
    expectNoTrace();
}

TEST_F(TrainingDbFaults, RollbackOfARecordRelabelledInTheSamePushLeavesNoHole) {
    FaultyFileOps ops;
    ops.failAt(Kind::sync, 1);  // the data file's sync
    HTTPParser::IOB body;
    fill(body, record(1, 1, {60}) + record(2, 1, {60}));
    uint32_t newIndex = 0;
    EXPECT_FALSE(db.push(body, 3, newIndex));
    expectNoTrace();
}

TEST_F(TrainingDbFaults, FailedTrimChangesNothing) {
    HTTPParser::IOB body;
    fill(body, record(1, 1, {50}));
    uint32_t newIndex = 0;
    ASSERT_TRUE(db.postUpdates(body, newIndex));
    FaultyFileOps ops;
    ops.failAt(Kind::rename, 1);
    EXPECT_FALSE(db.trimHistory(1));
    EXPECT_EQ(db.historyBase(), 0u);
    EXPECT_EQ(db.count(), 4);
}

}  // namespace
