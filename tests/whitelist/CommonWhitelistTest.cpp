#include "storage/CommonWhitelist.h"

#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"
#include "tests/whitelist/WhitelistTestSupport.h"

namespace {

const Record kMarker{1, -1};

// Pushes body bytes; returns the new index the client would receive (0 if untouched).
uint32_t push(CommonWhitelist& store, const std::string& bytes) {
    HTTPParser::IOB body;
    setBody(body, bytes);
    uint32_t newIndex = 0;
    EXPECT_TRUE(store.postUpdates(body, newIndex));
    return newIndex;
}

std::vector<Record> pull(CommonWhitelist& store, uint32_t startIndex, uint32_t& newIndex) {
    HTTPParser::IOB body;
    EXPECT_TRUE(store.getUpdates(startIndex, body, newIndex));
    return recordsOf(body);
}

// A store whose history holds indexes 10..14 (adds of 1..15 with a few negatives).
void fillFifteenChanges(CommonWhitelist& store) {
    for (int64_t k = 1; k <= 15; ++k)
        store.addKey(k % 4 == 0 ? -k : k);
    store.trimHistory(5);
}

}  // namespace

TEST(WhitelistPullPush, NewStoreAndIneffectiveChanges) {
    CommonWhitelist store;
    uint32_t newIndex = 99;
    EXPECT_TRUE(pull(store, 0, newIndex).empty());
    EXPECT_EQ(newIndex, 0u);

    // add 5, add 5 again, remove the absent 7: one effective change.
    EXPECT_EQ(push(store, recordBytes(1, 5) + recordBytes(1, 5) + recordBytes(0, 7)), 1u);
    EXPECT_EQ(store.count(), 1);
    EXPECT_EQ(store.keyCount(), 1u);

    // add 6 then remove 6: keys unchanged, both changes recorded in order.
    EXPECT_EQ(push(store, recordBytes(1, 6) + recordBytes(0, 6)), 3u);
    EXPECT_EQ(store.keyCount(), 1u);
    EXPECT_EQ(pull(store, 1, newIndex), (std::vector<Record>{{1, 6}, {0, 6}}));
    EXPECT_EQ(newIndex, 3u);
    EXPECT_EQ(pull(store, 0, newIndex), (std::vector<Record>{{1, 5}, {1, 6}, {0, 6}}));
    EXPECT_TRUE(pull(store, 3, newIndex).empty());
    EXPECT_EQ(newIndex, 3u);
}

TEST(WhitelistPullPush, BodiesWithPartialRecordsAndOddOps) {
    CommonWhitelist store;
    // Eight bytes are no record: nothing changes and newIndex stays as the caller set it.
    EXPECT_EQ(push(store, recordBytes(1, 5).substr(0, 8)), 0u);
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.keyCount(), 0u);
    // A whole record followed by five stray bytes: the record counts, the rest is ignored.
    EXPECT_EQ(push(store, recordBytes(1, 5) + recordBytes(1, 8).substr(0, 5)), 1u);
    EXPECT_FALSE(store.containsKey(8));
    // Any non-zero op adds, and the history keeps 1 for it.
    EXPECT_EQ(push(store, recordBytes(0x7F, 9)), 2u);
    uint32_t newIndex = 0;
    EXPECT_EQ(pull(store, 1, newIndex), (std::vector<Record>{{1, 9}}));
}

TEST(WhitelistPullPush, TrimmedClientGetsMarkerAndSnapshot) {
    CommonWhitelist store;
    fillFifteenChanges(store);
    EXPECT_EQ(store.historyBase(), 10u);
    store.trimHistory(2);
    EXPECT_EQ(store.historyBase(), 13u);
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(store.keyCount(), 15u);  // trimming never touches the keys

    uint32_t newIndex = 0;
    std::vector<Record> expected{kMarker};
    for (int64_t k : {-12, -8, -4, 1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15}) {
        expected.push_back({1, k});
    }
    EXPECT_EQ(pull(store, 11, newIndex), expected);
    EXPECT_EQ(newIndex, 15u);
    EXPECT_EQ(pull(store, 0, newIndex), expected);
    // Positions still held get plain history.
    EXPECT_EQ(pull(store, 13, newIndex), (std::vector<Record>{{1, 14}, {1, 15}}));
    EXPECT_EQ(pull(store, 14, newIndex), (std::vector<Record>{{1, 15}}));
    EXPECT_EQ(newIndex, 15u);

    // A limit of 0 empties the history at every trim while the base keeps counting.
    store.addKey(100);
    store.trimHistory(0);
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.historyBase(), 16u);
    EXPECT_EQ(store.end(), 16u);
    EXPECT_TRUE(pull(store, 16, newIndex).empty());
    EXPECT_EQ(newIndex, 16u);
}

TEST(WhitelistPullPush, IndexesCompareUnsigned) {
    CommonWhitelist store;
    fillFifteenChanges(store);
    uint32_t newIndex = 0;
    // Far ahead (negative if read as signed): the whole held history, no marker.
    std::vector<Record> history = pull(store, 0x80000000u, newIndex);
    ASSERT_EQ(history.size(), 5u);
    EXPECT_EQ(history.front(), (Record{1, 11}));
    EXPECT_EQ(newIndex, 15u);
    EXPECT_EQ(pull(store, 0xFFFFFFFFu, newIndex).size(), 5u);
}

TEST(WhitelistPullPush, ClientAheadAfterClear) {
    TempFolder dir;
    CommonWhitelist store;
    for (int64_t k = 0; k < 40; ++k)
        store.addKey(k);
    EXPECT_TRUE(store.clear(dir.folder()));
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.keyCount(), 0u);
    EXPECT_EQ(store.historyBase(), 0u);

    uint32_t newIndex = 77;
    EXPECT_TRUE(pull(store, 40, newIndex).empty());
    EXPECT_EQ(newIndex, 0u);
    EXPECT_EQ(push(store, recordBytes(1, 3)), 1u);
    // A client still at 40 is ahead and gets the history from its start; one at 0 too.
    EXPECT_EQ(pull(store, 40, newIndex), (std::vector<Record>{{1, 3}}));
    EXPECT_EQ(newIndex, 1u);
    EXPECT_EQ(pull(store, 0, newIndex), (std::vector<Record>{{1, 3}}));
}

TEST(WhitelistPullPush, KeyMinusOneLooksLikeTheMarker) {
    CommonWhitelist store;
    push(store, recordBytes(1, 3) + recordBytes(1, -1) + recordBytes(1, -5));
    EXPECT_TRUE(store.containsKey(-1));
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    ASSERT_TRUE(store.getUpdates(1, body, newIndex));
    EXPECT_EQ(std::string(body.chars(), 9), "\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF");
    EXPECT_EQ(std::string(body.chars(), body.length()), recordBytes(1, -1) + recordBytes(1, -5));

    store.addKey(7);
    store.trimHistory(1);
    ASSERT_TRUE(store.getUpdates(0, body, newIndex));
    EXPECT_EQ(std::string(body.chars(), body.length()), recordBytes(1, -1) + recordBytes(1, -5) +
                                                            recordBytes(1, -1) + recordBytes(1, 3) +
                                                            recordBytes(1, 7));
}

TEST(WhitelistPullPush, AnswerOverTheBodyLimitFails) {
    CommonWhitelist store;
    for (int64_t k = 0; k < 100; ++k)
        store.addKey(k);
    store.trimHistory(50);

    // The snapshot needs 101 records plus the buffer's closing zero byte.
    uint32_t newIndex = 1234;
    LimitedIOB tooSmall(101 * 9);
    tooSmall.append("x", 1);
    EXPECT_FALSE(store.getUpdates(0, tooSmall, newIndex));
    EXPECT_EQ(tooSmall.length(), 0u);
    EXPECT_NE(newIndex, 100u);

    LimitedIOB justRight(101 * 9 + 1);
    ASSERT_TRUE(store.getUpdates(0, justRight, newIndex));
    EXPECT_EQ(recordsOf(justRight).size(), 101u);
    EXPECT_EQ(newIndex, 100u);

    // History answers obey the limit just the same.
    LimitedIOB smallHistory(20 * 9);
    EXPECT_FALSE(store.getUpdates(50, smallHistory, newIndex));
    EXPECT_TRUE(store.getUpdates(85, smallHistory, newIndex));
    EXPECT_EQ(recordsOf(smallHistory).size(), 15u);
}
