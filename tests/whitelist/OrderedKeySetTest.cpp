#include "storage/OrderedKeySet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <random>
#include <set>
#include <vector>

using Storage::OrderedKeySet;

namespace {

std::vector<int64_t> contents(const OrderedKeySet& set) {
    std::vector<int64_t> keys;
    set.forEachRun(
        [&](const int64_t* run, size_t count) { keys.insert(keys.end(), run, run + count); });
    return keys;
}

void expectSame(const OrderedKeySet& set, const std::set<int64_t>& model) {
    ASSERT_EQ(set.size(), model.size());
    ASSERT_EQ(contents(set), std::vector<int64_t>(model.begin(), model.end()));
}

}  // namespace

TEST(OrderedKeySet, SignedOrderAndDuplicates) {
    OrderedKeySet set;
    const int64_t kMin = std::numeric_limits<int64_t>::min();
    const int64_t kMax = std::numeric_limits<int64_t>::max();
    for (int64_t key : {int64_t(5), int64_t(-1), kMax, int64_t(0), kMin, int64_t(-7)}) {
        EXPECT_TRUE(set.insert(key));
    }
    EXPECT_FALSE(set.insert(-1));
    EXPECT_FALSE(set.insert(kMin));
    EXPECT_EQ(contents(set), (std::vector<int64_t>{kMin, -7, -1, 0, 5, kMax}));
    EXPECT_TRUE(set.contains(kMin));
    EXPECT_FALSE(set.contains(4));
    EXPECT_FALSE(set.erase(4));
    EXPECT_TRUE(set.erase(kMin));
    EXPECT_FALSE(set.contains(kMin));
    EXPECT_EQ(set.size(), 5u);
    set.clear();
    EXPECT_TRUE(set.empty());
    EXPECT_FALSE(set.contains(5));
    EXPECT_FALSE(set.erase(5));
}

// Random inserts and erases over a narrow key range force block splits, merges
// and rebalancing; the set must agree with std::set after every phase.
TEST(OrderedKeySet, AgreesWithStdSetThroughSplitsAndMerges) {
    OrderedKeySet set;
    std::set<int64_t> model;
    std::mt19937_64 random(42);
    std::uniform_int_distribution<int64_t> key(-20000, 20000);
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 15000; ++i) {
            int64_t k = key(random);
            ASSERT_EQ(set.insert(k), model.insert(k).second);
        }
        expectSame(set, model);
        // Erase most keys, which leaves many sparse blocks to merge or rebalance.
        for (int i = 0; i < 30000; ++i) {
            int64_t k = key(random);
            ASSERT_EQ(set.erase(k), model.erase(k) == 1);
        }
        expectSame(set, model);
        for (int i = 0; i < 200; ++i) {
            int64_t k = key(random);
            ASSERT_EQ(set.contains(k), model.count(k) == 1) << k;
            // The keys above k, up to a stop after about two blocks' worth.
            std::vector<int64_t> above;
            set.forEachRunAbove(k, [&above](const int64_t* keys, size_t count) {
                above.insert(above.end(), keys, keys + count);
                return above.size() < 2 * OrderedKeySet::kBlockCapacity;
            });
            std::vector<int64_t> expected(model.upper_bound(k), model.end());
            expected.resize(std::min(expected.size(), above.size()));
            ASSERT_EQ(above, expected) << k;
            ASSERT_TRUE(above.size() >= 2 * OrderedKeySet::kBlockCapacity ||
                        above.size() == size_t(std::distance(model.upper_bound(k), model.end())));
        }
    }
}

TEST(OrderedKeySet, AscendingInsertsFillBlocksAndErasingKeepsThemDense) {
    OrderedKeySet set;
    const size_t n = 10 * OrderedKeySet::kBlockCapacity;
    for (size_t i = 0; i < n; ++i)
        set.insert(int64_t(i) * 2);
    EXPECT_EQ(set.blockCount(), 10u);
    // Inserting below every key and in the middle of full blocks splits them.
    EXPECT_TRUE(set.insert(-3));
    EXPECT_TRUE(set.insert(2001));
    EXPECT_EQ(set.blockCount(), 12u);
    // Erasing every other key must keep blocks at least a quarter full on average.
    std::set<int64_t> model;
    for (size_t i = 0; i < n; ++i)
        model.insert(int64_t(i) * 2);
    model.insert(-3);
    model.insert(2001);
    for (size_t i = 0; i < n; i += 1) {
        if (i % 8 != 0) {
            set.erase(int64_t(i) * 2);
            model.erase(int64_t(i) * 2);
        }
    }
    expectSame(set, model);
    EXPECT_LE(set.blockCount() * OrderedKeySet::kBlockCapacity / 4,
              set.size() + OrderedKeySet::kBlockCapacity);
    // Erasing everything leaves no blocks behind.
    for (int64_t k : model)
        EXPECT_TRUE(set.erase(k));
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.blockCount(), 0u);
}

TEST(OrderedKeySet, AppendAscendingTakesOnlySortedRunsAboveTheSet) {
    OrderedKeySet set;
    std::vector<int64_t> run;
    for (int64_t k = 0; k < 1200; ++k)
        run.push_back(k * 3);
    ASSERT_TRUE(set.appendAscending(run.data(), run.size()));
    EXPECT_EQ(set.blockCount(), 3u);          // 512 + 512 + 176: blocks are filled completely
    const int64_t notAbove[] = {3597, 4000};  // 3597 is the largest key held
    const int64_t unsorted[] = {5000, 4999};
    const int64_t repeated[] = {6000, 6000};
    EXPECT_FALSE(set.appendAscending(notAbove, 2));
    EXPECT_FALSE(set.appendAscending(unsorted, 2));
    EXPECT_FALSE(set.appendAscending(repeated, 2));
    EXPECT_EQ(set.size(), 1200u);
    EXPECT_TRUE(set.appendAscending(nullptr, 0));
    // Later ordinary inserts and erases work on the bulk-built blocks.
    std::set<int64_t> model(run.begin(), run.end());
    for (int64_t k : {int64_t(-1), int64_t(1), int64_t(1600), int64_t(99999)}) {
        EXPECT_TRUE(set.insert(k));
        model.insert(k);
    }
    EXPECT_TRUE(set.erase(0));
    model.erase(0);
    expectSame(set, model);
}
