#include "storage/CommonTrainingDb.h"

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "storage/AnalysisIOB.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"

namespace {

class CommonTrainingDbTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(db.load(folder.folder())); }

    // One push as the service makes it: store, make durable, trim.
    uint32_t push(const std::string& bytes, uint32_t maxSize = 100000) {
        HTTPParser::IOB body;
        fill(body, bytes);
        uint32_t newIndex = 0;
        EXPECT_TRUE(db.push(body, maxSize, newIndex));
        return newIndex;
    }

    std::string pull(uint32_t startIndex, uint32_t& newIndex) {
        HTTPParser::IOB body;
        EXPECT_TRUE(db.getUpdates(startIndex, body, newIndex));
        return contents(body);
    }

    std::string data() { return readBytes(folder.file("histdata.bin")); }

    TempFolder folder;
    CommonTrainingDb db;
};

// An HTTP buffer with a small limit, as a tight response body.
class SmallBody : public HTTPParser::IOB {
  public:
    explicit SmallBody(uint32_t limit) : HTTPParser::IOB(limit) {}
};

}  // namespace

TEST_F(CommonTrainingDbTest, NewStoreCreatesItsFilesAndAnswersEmpty) {
    EXPECT_TRUE(FileSystem::fileExists(folder.file("histdata.bin")));
    EXPECT_TRUE(FileSystem::fileExists(folder.file("histopt.bin")));
    uint32_t newIndex = 99;
    EXPECT_EQ(pull(0, newIndex), "");
    EXPECT_EQ(newIndex, 0u);
    EXPECT_EQ(db.count(), 0);
}

TEST_F(CommonTrainingDbTest, RelabelChainKeepsOldRecordsWithTheNewLabel) {
    EXPECT_EQ(push(record(5, 77, {1, 2, 3})), 1u);
    EXPECT_EQ(data(), record(5, 1, {1, 2, 3}));

    // The same set again, same label, values reordered: nothing changes.
    EXPECT_EQ(push(record(5, 1, {3, 1, 2})), 1u);
    EXPECT_EQ(data().size(), 36u);

    EXPECT_EQ(push(record(6, 1, {2, 3, 1})), 2u);
    EXPECT_EQ(push(record(7, 1, {1, 3, 2})), 3u);
    EXPECT_EQ(data(),
              record(6, 1000, {1, 2, 3}) + record(7, 1000, {2, 3, 1}) + record(7, 1, {1, 3, 2}));
    EXPECT_EQ(db.count(), 3);

    uint32_t newIndex = 0;
    EXPECT_EQ(pull(0, newIndex), data());
    EXPECT_EQ(newIndex, 3u);
    EXPECT_EQ(pull(2, newIndex), record(7, 1, {1, 3, 2}));
    EXPECT_EQ(pull(3, newIndex), "");
    EXPECT_EQ(newIndex, 3u);

    // A repeat of the current label changes nothing: the old records stay superseded.
    EXPECT_EQ(push(record(7, 1, {1, 2, 3})), 3u);
    EXPECT_EQ(data(),
              record(6, 1000, {1, 2, 3}) + record(7, 1000, {2, 3, 1}) + record(7, 1, {1, 3, 2}));
}

TEST_F(CommonTrainingDbTest, DescriptorsThatOnlyShareAFingerprintAreBothStored) {
    // 1^6 == 2^5 == 7, and neither set contains the other.
    EXPECT_EQ(push(record(1, 1, {1, 6})), 1u);
    EXPECT_EQ(push(record(1, 1, {2, 5})), 2u);
    EXPECT_EQ(data(), record(1, 1, {1, 6}) + record(1, 1, {2, 5}));
    // A relabel of the later one marks it, not the earlier one with the same fingerprint.
    EXPECT_EQ(push(record(2, 1, {5, 2})), 3u);
    EXPECT_EQ(data(), record(1, 1, {1, 6}) + record(2, 1000, {2, 5}) + record(2, 1, {5, 2}));
}

TEST_F(CommonTrainingDbTest, OversizedCountEndsThePushButKeepsEarlierDescriptors) {
    const std::string tooMany = le32(9) + le32(1) + le32(10001) + std::string(8 * 10001, '\x01');
    EXPECT_EQ(push(record(1, 1, {1}) + record(2, 1, {2}) + tooMany + record(3, 1, {3})), 2u);
    EXPECT_EQ(data(), record(1, 1, {1}) + record(2, 1, {2}));
}

TEST_F(CommonTrainingDbTest, EmptyAndShortBodiesStoreNothing) {
    push(record(1, 1, {1}));
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    EXPECT_TRUE(db.postUpdates(body, newIndex));
    EXPECT_EQ(newIndex, 0u);  // untouched
    fill(body, "\x01\x02\x03\x04\x05");
    EXPECT_TRUE(db.postUpdates(body, newIndex));
    EXPECT_EQ(newIndex, 1u);
    EXPECT_EQ(data(), record(1, 1, {1}));
}

TEST_F(CommonTrainingDbTest, MaxSizeTwoCompactsToTheNewestRecords) {
    for (int64_t v = 1; v <= 4; ++v)
        push(record(uint32_t(v), 1, {v}), 2);
    EXPECT_EQ(data(), record(3, 1, {3}) + record(4, 1, {4}));
    EXPECT_EQ(readBytes(folder.file("histdata.bin.fm")).size(), 24u);
    EXPECT_EQ(db.count(), 2);
    EXPECT_EQ(db.historyBase(), 2u);
    // The numbering is saved as soon as it moves.
    EXPECT_EQ(readBytes(folder.file("histopt.bin")).substr(0, 4), le32(2));

    for (uint32_t start : {0u, 2u, 7u}) {
        uint32_t newIndex = 0;
        EXPECT_EQ(pull(start, newIndex), data()) << start;
        EXPECT_EQ(newIndex, 4u);
    }
    uint32_t newIndex = 0;
    EXPECT_EQ(pull(3, newIndex), record(4, 1, {4}));
    EXPECT_FALSE(FileSystem::fileExists(folder.file("histdata.bin.new")));
}

TEST_F(CommonTrainingDbTest, ClearCountsFingerprintsNotRecords) {
    push(record(1, 1, {100}));  // X
    push(record(1, 1, {200}));  // Y
    push(record(2, 1, {100}));  // X relabelled: the file holds X (superseded), Y, X
    EXPECT_EQ(db.count(), 3);
    db.clear();
    EXPECT_EQ(db.count(), 0);
    EXPECT_EQ(db.end(), 0u);
    EXPECT_EQ(readBytes(folder.file("histopt.bin")).substr(0, 4), le32(0));
    EXPECT_EQ(data(), record(2, 1, {100}));

    // A client ahead of the cleared numbering gets everything held, which is nothing yet.
    uint32_t newIndex = 9;
    EXPECT_EQ(pull(40, newIndex), "");
    EXPECT_EQ(newIndex, 0u);

    // X with its label is still in the file; with the history empty it counts as a
    // change again, as a new record behind the history's start.
    EXPECT_EQ(push(record(2, 1, {100})), 1u);
    EXPECT_EQ(data(), record(2, 1, {100}) + record(2, 1, {100}));
    EXPECT_EQ(push(record(3, 1, {300})), 2u);
    EXPECT_EQ(pull(40, newIndex), record(2, 1, {100}) + record(3, 1, {300}));
    EXPECT_EQ(newIndex, 2u);
    // And so it stays after a restart.
    ASSERT_TRUE(db.flush());
    CommonTrainingDb restarted;
    ASSERT_TRUE(restarted.load(folder.folder()));
    HTTPParser::IOB body;
    ASSERT_TRUE(restarted.getUpdates(0, body, newIndex));
    EXPECT_EQ(contents(body), record(2, 1, {100}) + record(3, 1, {300}));
    EXPECT_EQ(newIndex, 2u);
}

TEST_F(CommonTrainingDbTest, RestartAfterFlushRestoresHistoryAndNumbering) {
    push(record(1, 1, {1}));
    push(record(1, 1, {2}));
    push(record(2, 1, {1}));  // supersedes the first record
    push(record(1, 1, {3}), 3);
    push(record(1, 1, {4}), 3);  // history trimmed to 3: base 2; the superseded record goes
    EXPECT_EQ(db.end(), 5u);
    ASSERT_TRUE(db.flush());
    EXPECT_EQ(readBytes(folder.file("histopt.bin")).substr(0, 4), le32(2));

    CommonTrainingDb restarted;
    ASSERT_TRUE(restarted.load(folder.folder()));
    EXPECT_EQ(restarted.historyBase(), 2u);
    // Exactly the history served before: not the record trimmed from it but still in
    // the file, and every index names the record it named before.
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    ASSERT_TRUE(restarted.getUpdates(0, body, newIndex));
    EXPECT_EQ(contents(body), record(2, 1, {1}) + record(1, 1, {3}) + record(1, 1, {4}));
    EXPECT_EQ(newIndex, 5u);
    ASSERT_TRUE(restarted.getUpdates(3, body, newIndex));
    EXPECT_EQ(contents(body), record(1, 1, {3}) + record(1, 1, {4}));

    // The index came back too: a repeat is no new change.
    fill(body, record(2, 1, {1}));
    ASSERT_TRUE(restarted.postUpdates(body, newIndex));
    EXPECT_EQ(newIndex, 5u);
}

TEST_F(CommonTrainingDbTest, RestartAfterCrashCutsTheTornRecordAndKeepsAppending) {
    push(record(1, 1, {1}));
    push(record(1, 1, {2}));
    // The process dies: no flush, a half-written record, no "histopt.bin".
    {
        FILE* f = std::fopen(folder.file("histdata.bin").c_str(), "ab");
        const std::string torn = record(1, 1, {3, 4, 5}).substr(0, 17);
        std::fwrite(torn.data(), 1, torn.size(), f);
        std::fclose(f);
    }
    FileSystem::removeFile(folder.file("histopt.bin"));
    FileSystem::removeFile(folder.file("histdata.bin.fm"));

    CommonTrainingDb restarted;
    ASSERT_TRUE(restarted.load(folder.folder()));
    EXPECT_EQ(restarted.count(), 2);
    EXPECT_EQ(restarted.historyBase(), 0u);
    EXPECT_EQ(data(), record(1, 1, {1}) + record(1, 1, {2}));

    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    fill(body, record(1, 1, {6}) + record(1, 1, {2}));
    ASSERT_TRUE(restarted.postUpdates(body, newIndex));
    EXPECT_EQ(newIndex, 3u);
    ASSERT_TRUE(restarted.reopen());

    CommonTrainingDb again;
    ASSERT_TRUE(again.load(folder.folder()));
    EXPECT_EQ(again.count(), 3);
}

TEST_F(CommonTrainingDbTest, AcknowledgedPushIsOnDiskBeforeShutdown) {
    HTTPParser::IOB body;
    fill(body, record(4, 1, {44}));
    uint32_t newIndex = 0;
    ASSERT_TRUE(db.postUpdates(body, newIndex));
    db.trimHistory(100000);
    ASSERT_TRUE(db.reopen());
    // Another reader sees the record and the index without any further call.
    EXPECT_EQ(data(), record(4, 1, {44}));
    EXPECT_EQ(readBytes(folder.file("histdata.bin.fm")), le64(44) + le32(0));
}

TEST_F(CommonTrainingDbTest, PullThatDoesNotFitAnswersWholeRecordsAndTheClientGoesOn) {
    push(record(1, 1, {1, 2, 3}) + record(2, 1, {4, 5, 6}) + record(3, 1, {7}));
    SmallBody body(60);
    uint32_t newIndex = 0;
    EXPECT_TRUE(db.getUpdates(0, body, newIndex));
    EXPECT_EQ(contents(body), record(1, 1, {1, 2, 3}));
    EXPECT_EQ(newIndex, 1u);
    // The rest, 56 bytes, fits at once.
    EXPECT_TRUE(db.getUpdates(newIndex, body, newIndex));
    EXPECT_EQ(contents(body), record(2, 1, {4, 5, 6}) + record(3, 1, {7}));
    EXPECT_EQ(newIndex, 3u);
}

TEST_F(CommonTrainingDbTest, LargePullComesInPagesThatTogetherHoldEveryRecord) {
    // 1320 descriptors of 10000 values: 105 MB, more than any answer may hold.
    std::vector<int64_t> values(10000);
    std::string all;
    for (int64_t d = 0; d < 150; ++d) {
        for (size_t v = 0; v < values.size(); ++v)
            values[v] = d * 100000 + int64_t(v);
        const std::string bytes = record(1, 1, values);
        all += bytes;
        push(bytes);
    }
    std::string received;
    uint32_t index = 0;
    int pages = 0;
    while (index < db.end() && pages < 1000) {
        HTTPParser::IOB body;
        uint32_t newIndex = 0;
        ASSERT_TRUE(db.getUpdates(index, body, newIndex));
        ASSERT_GT(newIndex, index);
        EXPECT_LE(body.length(), uint32_t(CommonTrainingDb::kPullPageBytes));
        received += contents(body);
        index = newIndex;
        ++pages;
    }
    EXPECT_GT(pages, 1);
    EXPECT_EQ(received, all);
}

TEST_F(CommonTrainingDbTest, PushIntoAStoreWithoutDataFileReportsFailure) {
    ASSERT_TRUE(db.flush());  // closes the data file
    HTTPParser::IOB body;
    fill(body, record(1, 1, {1}));
    uint32_t newIndex = 7;
    EXPECT_FALSE(db.postUpdates(body, newIndex));
    EXPECT_EQ(db.count(), 0);
    ASSERT_TRUE(db.reopen());
    EXPECT_TRUE(db.postUpdates(body, newIndex));
    EXPECT_EQ(newIndex, 1u);
}

TEST_F(CommonTrainingDbTest, LoadFailsCleanlyForAMissingFolder) {
    CommonTrainingDb other;
    EXPECT_FALSE(other.load(folder.file("missing/")));
    EXPECT_FALSE(other.flush());
    HTTPParser::IOB body;
    uint32_t newIndex = 5;
    EXPECT_TRUE(other.getUpdates(0, body, newIndex));
    EXPECT_EQ(newIndex, 0u);
}
