// An export reads each store as it stood at one durable point, while pushes go on: the
// whitelist takes back, chunk by chunk, the changes made after the point; the training
// database holds its commits until its records are read.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"
#include "tests/whitelist/WhitelistTestSupport.h"

namespace {

constexpr uint32_t kMax = 100000;
constexpr int64_t kKeys = 3 * int64_t(CommonWhitelist::kExportChunk) + 5;

// Pushes one change through the committer's road: applied, then committed.
void change(CommonWhitelist& wl, const std::string& folder, uint8_t op, int64_t key) {
    HTTPParser::IOB body;
    setBody(body, recordBytes(op, key));
    uint32_t index = 0;
    ASSERT_TRUE(wl.applyPending(body, index));
    ASSERT_TRUE(wl.commitPending(folder, kMax, true));
}

}  // namespace

TEST(WhitelistExport, KeysAreThoseOfThePointWhateverChangesBetweenChunks) {
    struct Case {
        const char* name;
        std::function<void(CommonWhitelist&, const std::string&)> during;
    };
    const int64_t later = 2 * (kKeys - 2);  // a held key of the last chunk
    const Case cases[] = {
        {"a key of a later chunk removed", [&](auto& wl, auto& f) { change(wl, f, 0, later); }},
        {"new keys in every chunk",
         [](auto& wl, auto& f) {
             for (int64_t key : {int64_t(-7), kKeys / 2 * 2 + 1, kKeys + 100, INT64_MIN})
                 change(wl, f, 1, key);
         }},
        {"removed and added again",
         [&](auto& wl, auto& f) {
             change(wl, f, 0, later);
             change(wl, f, 1, later);
         }},
        {"added and removed again",
         [](auto& wl, auto& f) {
             change(wl, f, 1, kKeys + 1);
             change(wl, f, 0, kKeys + 1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        CommonWhitelist wl;
        ASSERT_TRUE(wl.load(dir.folder()));
        std::set<int64_t> expected;
        for (int64_t key = 0; key < 2 * kKeys; key += 2) {
            ASSERT_TRUE(wl.addKey(key));
            expected.insert(key);
        }
        ASSERT_TRUE(wl.save(dir.folder()));
        const CommonWhitelist::ExportPoint point = wl.exportPoint();
        EXPECT_EQ(point.index, wl.end());
        std::vector<int64_t> exported;
        bool changed = false;
        std::string why;
        ASSERT_TRUE(wl.exportKeys(
            point,
            [&](const int64_t* keys, size_t count) {
                exported.insert(exported.end(), keys, keys + count);
                if (!changed)
                    c.during(wl, dir.folder());
                changed = true;
                return true;
            },
            why))
            << why;
        EXPECT_EQ(exported, std::vector<int64_t>(expected.begin(), expected.end()));
    }
}

TEST(WhitelistExport, APointTrimmedAwayOrClearedEndsTheExport) {
    for (bool clear : {false, true}) {
        TempFolder dir;
        CommonWhitelist wl;
        ASSERT_TRUE(wl.load(dir.folder()));
        for (int64_t key = 0; key < kKeys; ++key)
            ASSERT_TRUE(wl.addKey(key));
        const CommonWhitelist::ExportPoint point = wl.exportPoint();
        std::string why;
        EXPECT_FALSE(wl.exportKeys(
            point,
            [&](const int64_t*, size_t) {
                change(wl, dir.folder(), 1, -1);
                if (clear)
                    EXPECT_TRUE(wl.clear(dir.folder()));
                else
                    wl.trimHistory(0);
                return true;
            },
            why));
        EXPECT_NE(why.find("export again"), std::string::npos);
    }
}

TEST(TrainingDbExport, ARelabelCommittedDuringTheExportWaitsAndIsNotSeen) {
    TempFolder dir;
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    // Records of 10000 values, so that the export reads several pages.
    constexpr uint32_t kDescriptors = 30;
    std::string bytes;
    for (uint32_t d = 0; d < kDescriptors; ++d) {
        std::vector<int64_t> values(10000);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = int64_t(d) * 100000 + int64_t(i);
        bytes += record(d, 1, values);
    }
    HTTPParser::IOB body;
    ASSERT_TRUE(body.append(bytes.data(), uint32_t(bytes.size())));
    uint32_t index = 0;
    ASSERT_TRUE(db.push(body, kMax, index));

    EXPECT_EQ(db.beginExport(), kDescriptors);
    std::vector<uint32_t> labels;
    std::future<bool> commit;
    std::string why;
    ASSERT_TRUE(db.exportDescriptors(
        [&](const MessageDescriptor& descriptor) {
            labels.push_back(descriptor.label);
            if (!commit.valid()) {
                // The last descriptor gets a new label; its commit must wait for the export.
                HTTPParser::IOB relabel;
                const std::string last = bytes.substr(bytes.size() - (12 + 80000));
                std::string changed = le32(999) + last.substr(4);
                EXPECT_TRUE(relabel.append(changed.data(), uint32_t(changed.size())));
                uint32_t ignored = 0;
                EXPECT_TRUE(db.applyPending(relabel, ignored));
                commit = std::async(std::launch::async, [&db] { return db.commitPending(kMax); });
                EXPECT_EQ(commit.wait_for(std::chrono::milliseconds(200)),
                          std::future_status::timeout);
            }
            return true;
        },
        why))
        << why;
    db.endExport();
    EXPECT_TRUE(commit.get());
    std::vector<uint32_t> expected(kDescriptors);
    for (uint32_t d = 0; d < kDescriptors; ++d)
        expected[d] = d;
    EXPECT_EQ(labels, expected);
    EXPECT_EQ(db.end(), kDescriptors + 1);
}
