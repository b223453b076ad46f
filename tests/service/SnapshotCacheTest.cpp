// The shared whitelist snapshot: one buffer per served state, never another state's, and
// counted against the buffer budget once however many connections send it.
#include "apps/VantorSyncSvc/SnapshotCache.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/TempFolder.h"

namespace {

// Each change is its own push, trimmed to two history records as the committer would.
void addKeys(CommonWhitelist& store, std::initializer_list<int64_t> keys) {
    for (int64_t key : keys) {
        store.addKey(key);
        store.trimHistory(2);
    }
}

// The keys a snapshot answer carries after its reset marker.
std::set<int64_t> keysOf(const HTTPParser::SharedAnswer& answer) {
    std::set<int64_t> keys;
    for (uint32_t at = WhitelistChange::kSize; at + WhitelistChange::kSize <= answer.length();
         at += WhitelistChange::kSize) {
        const int64_t key = WhitelistChange::decode(answer.data() + at).key;  // packed: copied
        keys.insert(key);
    }
    return keys;
}

}  // namespace

TEST(SnapshotCache, SharedPerStateAndNeverStale) {
    TempFolder folder;
    CommonWhitelist store;
    SnapshotCache cache;
    addKeys(store, {1, 2, 3, 4, 5});  // indexes 3 and 4 held, end 5
    struct Step {
        const char* what;
        void (*change)(CommonWhitelist&, const std::string&);
        bool sameBuffer;  // as the step before
        std::set<int64_t> keys;
        uint32_t newIndex;
    };
    const Step steps[] = {
        {"first pull", nullptr, false, {1, 2, 3, 4, 5}, 5},
        {"second pull", nullptr, true, {1, 2, 3, 4, 5}, 5},
        {"a push moved the index",
         [](CommonWhitelist& s, const std::string&) { addKeys(s, {6}); },
         false,
         {1, 2, 3, 4, 5, 6},
         6},
        // Same history base and end as before the clear: only its generation tells.
        {"cleared and grown back to the same indexes",
         [](CommonWhitelist& s, const std::string& f) {
             ASSERT_TRUE(s.clear(f));
             addKeys(s, {11, 12, 13, 14, 15, 16});
         },
         false,
         {11, 12, 13, 14, 15, 16},
         6},
    };
    SnapshotCache::Answer before;
    for (const Step& step : steps) {
        if (step.change != nullptr)
            step.change(store, folder.folder());
        SnapshotCache::Answer answer;
        uint32_t newIndex = 0;
        ASSERT_TRUE(cache.answer(store, 0, answer, newIndex)) << step.what;
        ASSERT_NE(answer, nullptr) << step.what;
        EXPECT_EQ(step.sameBuffer, answer == before) << step.what;
        EXPECT_EQ(step.keys, keysOf(*answer)) << step.what;
        EXPECT_EQ(step.newIndex, newIndex) << step.what;
        before = answer;
    }
    // Not the snapshot case: the caller answers from the history.
    SnapshotCache::Answer none;
    uint32_t newIndex = 0;
    EXPECT_FALSE(cache.answer(store, store.historyBase(), none, newIndex));
    // A snapshot the store has moved past is let go as soon as the push is answered.
    std::weak_ptr<const HTTPParser::SharedAnswer> cached = before;
    before.reset();
    cache.dropStale(store);
    EXPECT_FALSE(cached.expired());
    addKeys(store, {17});
    cache.dropStale(store);
    EXPECT_TRUE(cached.expired());
}

TEST(SnapshotCache, SendersShareOneBudgetCharge) {
    HTTPParser::BufferBudget budget(1000);
    HTTPParser::IOB bytes;
    ASSERT_TRUE(bytes.append(nullptr, 600, false));
    const HTTPParser::SharedAnswer answer(std::move(bytes));
    struct Case {
        const char* what;
        int admit, release;  // senders added, then taken away
        bool admitted;
        uint64_t used;
    };
    const Case cases[] = {
        {"one sender charges the bytes", 1, 0, true, 600},
        {"more senders share the charge", 59, 0, true, 600},
        {"all but one gone: still charged", 0, 59, true, 600},
        {"the last one gives it back", 0, 1, true, 0},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < c.admit; ++i)
            EXPECT_EQ(c.admitted, answer.admitSender(&budget, 100)) << c.what;
        for (int i = 0; i < c.release; ++i)
            answer.releaseSender();
        EXPECT_EQ(c.used, budget.used()) << c.what;
    }
    // Beyond the free allowance the bytes must fit what is left of the budget.
    budget.charge(500);
    EXPECT_FALSE(answer.admitSender(&budget, 100));
    EXPECT_EQ(500u, budget.used());
    EXPECT_TRUE(answer.admitSender(&budget, 600));  // within the allowance: always taken
    answer.releaseSender();
    EXPECT_EQ(500u, budget.used());
}
