#include "storage/WhitelistHistory.h"

#include <gtest/gtest.h>

using Storage::WhitelistHistory;

namespace {

void push(WhitelistHistory& history, int64_t key) {
    history.reserveForAppend();
    history.append(WhitelistChange{1, key});
}

}  // namespace

// Many rounds of "push a few, trim to a limit" cross the points where the dead
// prefix is reclaimed; the live records must stay the newest ones, in order.
TEST(WhitelistHistory, TrimKeepsNewestInOrderAcrossCompactions) {
    WhitelistHistory history;
    int64_t next = 0;
    for (int round = 0; round < 3000; ++round) {
        for (int i = 0; i < 7; ++i)
            push(history, next++);
        const size_t before = history.size();
        ASSERT_EQ(history.trimTo(500), before > 500 ? before - 500 : 0u);
        ASSERT_EQ(history.size(), std::min<size_t>(next, 500));
        for (size_t i = 0; i < history.size(); ++i) {
            const int64_t key = history[i].key;
            ASSERT_EQ(key, next - int64_t(history.size()) + int64_t(i));
        }
    }
    // Memory stays a small multiple of the live records.
    EXPECT_LE(history.memoryBytes(), 4 * 500 * sizeof(WhitelistChange) + 64 * 9);
}

TEST(WhitelistHistory, TrimToZeroAndLargeCutReleaseMemory) {
    WhitelistHistory history;
    for (int64_t k = 0; k < 100000; ++k)
        push(history, k);
    EXPECT_EQ(history.trimTo(10), 99990u);
    EXPECT_EQ(history.size(), 10u);
    const int64_t oldest = history[0].key;
    EXPECT_EQ(oldest, 99990);
    EXPECT_LT(history.memoryBytes(), 1000u);
    EXPECT_EQ(history.trimTo(0), 10u);
    EXPECT_TRUE(history.empty());
    push(history, 7);
    const int64_t only = history[0].key;
    EXPECT_EQ(only, 7);
}
