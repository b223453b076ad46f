#include "storage/DescriptorFile.h"

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"

namespace {

MessageDescriptor descriptor(uint32_t label, std::initializer_list<int64_t> values) {
    MessageDescriptor d;
    d.label = label;
    d.status = MessageDescriptor::kCurrent;
    for (int64_t v : values)
        d.addValue(v);
    return d;
}

}  // namespace

TEST(DescriptorFile, AppendsRelabelsAndSavesTheIndexOnClose) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    ASSERT_TRUE(file.add(descriptor(5, {1, 2, 3})));
    ASSERT_TRUE(file.add(descriptor(5, {3, 2, 1})));  // same set, same label: nothing new
    ASSERT_TRUE(file.add(descriptor(6, {2, 1, 3})));  // relabel
    EXPECT_EQ(file.find(1 ^ 2 ^ 3, nullptr), 36);
    ASSERT_TRUE(file.close());

    EXPECT_EQ(readBytes(path), record(6, 1000, {1, 2, 3}) + record(6, 1, {2, 1, 3}));
    EXPECT_EQ(readBytes(path + ".fm"), le64(1 ^ 2 ^ 3) + le32(36));

    DescriptorFile reopened;
    ASSERT_TRUE(reopened.open(path));
    EXPECT_EQ(reopened.indexSize(), 1u);
    MessageDescriptor stored;
    EXPECT_EQ(reopened.find(1 ^ 2 ^ 3, &stored), 36);
    EXPECT_EQ(stored.label, 6u);
    EXPECT_EQ(stored.values, (std::vector<int64_t>{2, 1, 3}));
}

TEST(DescriptorFile, SequentialReadPointsTheIndexAtTheLastRecordOfAFingerprint) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    writeBytes(path, record(1, 1000, {4}) + record(2, 1, {9}) + record(1, 1, {4}));
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    MessageDescriptor d;
    ASSERT_TRUE(file.readFirst(d));
    EXPECT_EQ(d.status, 1000);
    int records = 1;
    while (file.readNext(d))
        ++records;
    EXPECT_EQ(records, 3);
    EXPECT_EQ(file.find(4, nullptr), 40);
    EXPECT_EQ(file.find(9, nullptr), 20);
}

TEST(DescriptorFile, ReadAllCutsATornTailSoLaterAppendsStayReadable) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    const std::string good = record(1, 1, {10, 11});
    writeBytes(path, good + record(2, 1, {20, 21, 22}).substr(0, 30));
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    std::vector<uint32_t> offsets;
    ASSERT_TRUE(file.readAll(
        [&](uint32_t offset, const MessageDescriptor&) { offsets.push_back(offset); }));
    EXPECT_EQ(offsets, std::vector<uint32_t>{0});
    EXPECT_EQ(FileSystem::fileSize(path), 28);

    ASSERT_TRUE(file.add(descriptor(3, {30})));
    ASSERT_TRUE(file.close());
    EXPECT_EQ(readBytes(path), good + record(3, 1, {30}));
}

TEST(DescriptorFile, ReadAllReportsAnImpossibleCountAndCutsNothing) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    const std::string bytes =
        record(1, 1, {10}) + le32(1) + le32(1) + le32(10001) + le64(0) + record(2, 1, {20});
    writeBytes(path, bytes);
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    int records = 0;
    int64_t damagedAt = -1;
    ASSERT_TRUE(file.readAll([&](uint32_t, const MessageDescriptor&) { ++records; }, &damagedAt));
    EXPECT_EQ(records, 1);
    EXPECT_EQ(damagedAt, 20);
    EXPECT_EQ(readBytes(path), bytes);

    // Set aside, the whole file stays under the second name and the data file keeps
    // the readable records.
    ASSERT_TRUE(file.setAside(damagedAt, folder.file("aside")));
    EXPECT_EQ(readBytes(folder.file("aside")), bytes);
    EXPECT_EQ(readBytes(path), record(1, 1, {10}));
}

TEST(DescriptorFile, AppendRecordsLeavesOutUnlistedAndNonPositiveStatus) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    const std::string big = record(9, 1000, {1, 2, 3, 4, 5, 6, 7, 8});  // 76 bytes
    // Offsets: 0, 20, 40, 116, 136.
    writeBytes(
        path, record(1, 1, {1}) + record(2, 0, {2}) + big + record(3, -4, {3}) + record(4, 1, {4}));
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));

    HTTPParser::IOB out;
    ASSERT_TRUE(out.append("x", 1));
    const uint32_t all[] = {0, 20, 40, 116, 136};
    ASSERT_TRUE(file.appendRecordsTo(all, 5, out));
    EXPECT_EQ(contents(out), "x" + record(1, 1, {1}) + big + record(4, 1, {4}));

    // Records between the listed ones are not sent.
    const uint32_t some[] = {20, 136};
    out.clear();
    ASSERT_TRUE(file.appendRecordsTo(some, 2, out));
    EXPECT_EQ(contents(out), record(4, 1, {4}));
    const uint32_t first[] = {0};
    out.clear();
    ASSERT_TRUE(file.appendRecordsTo(first, 1, out));
    EXPECT_EQ(contents(out), record(1, 1, {1}));
}

TEST(DescriptorFile, AppendRecordsFailsWholeOnBadOffsetsOrATightBuffer) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    writeBytes(path, record(1, 1, {1}) + record(2, 1, {2}));
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    HTTPParser::IOB out;
    ASSERT_TRUE(out.append("keep", 4));
    const uint32_t insideARecord[] = {0, 30};
    const uint32_t beyondTheEnd[] = {0, 40};
    const uint32_t farBeyond[] = {0x7fffffff};
    EXPECT_FALSE(file.appendRecordsTo(insideARecord, 2, out));
    EXPECT_FALSE(file.appendRecordsTo(beyondTheEnd, 2, out));
    EXPECT_FALSE(file.appendRecordsTo(farBeyond, 1, out));
    EXPECT_EQ(contents(out), "keep");

    class Tight : public HTTPParser::IOB {
      public:
        Tight() : HTTPParser::IOB(40) {}  // 39 bytes and the zero byte
    } tight;
    const uint32_t both[] = {0, 20};
    EXPECT_FALSE(file.appendRecordsTo(both, 2, tight));
    EXPECT_EQ(tight.length(), 0u);
    EXPECT_TRUE(file.appendRecordsTo(both + 1, 1, tight));
    EXPECT_EQ(contents(tight), record(2, 1, {2}));
}

TEST(DescriptorFile, CompactKeepsTheNewestRecordsAndRebuildsTheIndex) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    for (int64_t v = 1; v <= 4; ++v)
        ASSERT_TRUE(file.add(descriptor(uint32_t(v), {v})));
    EXPECT_EQ(file.compact(4), 0);
    EXPECT_EQ(file.compact(2), 40);
    EXPECT_EQ(readBytes(path), record(3, 1, {3}) + record(4, 1, {4}));
    EXPECT_EQ(file.indexSize(), 2u);
    EXPECT_EQ(file.find(3, nullptr), 0);
    EXPECT_EQ(file.find(4, nullptr), 20);
    EXPECT_EQ(file.find(1, nullptr), -1);
    EXPECT_FALSE(FileSystem::fileExists(path + ".new"));

    // The file stays usable: appends land behind the kept records.
    ASSERT_TRUE(file.add(descriptor(5, {5})));
    EXPECT_EQ(file.find(5, nullptr), 40);
    ASSERT_TRUE(file.close());
    EXPECT_EQ(FileSystem::fileSize(path), 60);
    EXPECT_EQ(readBytes(path + ".fm").size(), 36u);
}

TEST(DescriptorFile, CompactStopsCopyingAtADamagedRecord) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    // Three good records, then a head with an impossible count and a record behind it.
    writeBytes(path, record(1, 1, {1}) + record(2, 1, {2}) + record(3, 1, {3}) + le32(4) + le32(1) +
                         le32(20000) + record(5, 1, {5}));
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    MessageDescriptor d;
    ASSERT_TRUE(file.readFirst(d));
    while (file.readNext(d)) {
    }
    ASSERT_EQ(file.indexSize(), 3u);
    EXPECT_EQ(file.compact(1), 40);
    EXPECT_EQ(readBytes(path), record(3, 1, {3}));
    EXPECT_EQ(file.indexSize(), 1u);
    EXPECT_EQ(file.find(3, nullptr), 0);
}

TEST(DescriptorFile, CompactSeesAppendsStillInTheStreamBuffer) {
    TempFolder folder;
    const std::string path = folder.file("histdata.bin");
    DescriptorFile file;
    ASSERT_TRUE(file.open(path));
    for (int64_t v = 1; v <= 3; ++v)
        ASSERT_TRUE(file.add(descriptor(1, {v, v * 1000})));
    EXPECT_EQ(file.compact(0), 84);
    EXPECT_EQ(file.dataSize(), 0);
    EXPECT_EQ(file.indexSize(), 0u);
    ASSERT_TRUE(file.add(descriptor(1, {7})));
    ASSERT_TRUE(file.close());
    EXPECT_EQ(readBytes(path), record(1, 1, {7}));
}
