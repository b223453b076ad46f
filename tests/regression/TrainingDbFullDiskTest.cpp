// A training database whose data file cannot grow (a full disk) must refuse the push,
// leave no partial record behind, keep answering pulls with what it holds, and take
// pushes again once there is room.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "storage/CommonTrainingDb.h"
#include "tests/support/FileSizeCap.h"
#include "tests/support/TempFolder.h"

namespace {

std::string descriptorRecord(uint32_t label, int64_t firstValue, uint32_t count) {
    MessageDescriptor descriptor;
    descriptor.label = label;
    descriptor.status = MessageDescriptor::kCurrent;
    for (uint32_t i = 0; i < count; ++i)
        descriptor.addValue(firstValue + i);
    std::string bytes;
    descriptor.encode(bytes);
    return bytes;
}

bool push(CommonTrainingDb& store, const std::string& bytes, uint32_t& newIndex) {
    HTTPParser::IOB body;
    body.append(bytes.data(), uint32_t(bytes.size()));
    // As the service does after every push: the answer is a success only once durable.
    bool ok = store.postUpdates(body, newIndex);
    return store.reopen() && ok;
}

size_t recordsIn(const HTTPParser::IOB& body) {
    MessageDescriptor descriptor;
    uint32_t cursor = 0;
    size_t records = 0;
    while (descriptor.parse(body, cursor))
        ++records;
    return cursor == body.length() ? records : size_t(-1);
}

}  // namespace

TEST(TrainingDbFullDisk, RefusedPushLeavesStoreWhole) {
    TempFolder dir;
    CommonTrainingDb store;
    ASSERT_TRUE(store.load(dir.folder()));
    const std::string dataPath = dir.file(CommonTrainingDb::kDataFileName);
    // 100 values make an 812-byte record: the cap admits four whole ones.
    const uint32_t kValues = 100;
    const uintmax_t recordSize = MessageDescriptor::kHeaderSize + 8 * kValues;

    uint32_t acknowledged = 0;
    uint32_t newIndex = 0;
    {
        FileSizeCap cap(4 * recordSize + 100);
        int64_t next = 1;
        while (push(store, descriptorRecord(1, next, kValues), newIndex)) {
            ++acknowledged;
            next += kValues;
            ASSERT_LT(acknowledged, 100u) << "the cap was never reached";
        }
        EXPECT_EQ(acknowledged, 4u);
        // The refused record is not in the file, not numbered and not served.
        EXPECT_EQ(std::filesystem::file_size(dataPath), acknowledged * recordSize);
        EXPECT_EQ(store.end(), acknowledged);
        HTTPParser::IOB pulled;
        uint32_t pulledEnd = 0;
        ASSERT_TRUE(store.getUpdates(0, pulled, pulledEnd));
        EXPECT_EQ(recordsIn(pulled), acknowledged);
        EXPECT_EQ(pulledEnd, acknowledged);
    }

    // Room again: the next push is stored and numbered right behind the others.
    ASSERT_TRUE(push(store, descriptorRecord(2, 100000, kValues), newIndex));
    EXPECT_EQ(newIndex, acknowledged + 1);
    EXPECT_EQ(std::filesystem::file_size(dataPath), (acknowledged + 1) * recordSize);
    ASSERT_TRUE(store.flush());

    CommonTrainingDb restarted;
    ASSERT_TRUE(restarted.load(dir.folder()));
    EXPECT_EQ(restarted.end(), acknowledged + 1);
}
