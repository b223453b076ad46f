#include "storage/FMap.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "platform/FileSystem.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"

using Index = Storage::FMap<int64_t, int32_t>;

TEST(FMap, KeepsEveryKeyThroughGrowthIncludingTheExtremes) {
    Index map;
    std::map<int64_t, int32_t> expected;
    const int64_t extremes[] = {0, -1, std::numeric_limits<int64_t>::min(),
                                std::numeric_limits<int64_t>::max()};
    for (int64_t key : extremes) {
        EXPECT_EQ(map.find(key), nullptr);
        map.set(key, 7);
        expected[key] = 7;
    }
    // Keys in a regular pattern, the kind that crowds a weak hash into one run.
    for (int64_t i = 1; i <= 50000; ++i) {
        map.set(i << 20, int32_t(i));
        expected[i << 20] = int32_t(i);
    }
    map.set(std::numeric_limits<int64_t>::min(), 9);
    expected[std::numeric_limits<int64_t>::min()] = 9;

    ASSERT_EQ(map.size(), expected.size());
    for (const auto& [key, value] : expected) {
        const int32_t* found = map.find(key);
        ASSERT_NE(found, nullptr) << key;
        EXPECT_EQ(*found, value) << key;
    }
    size_t visited = 0;
    map.forEach([&](int64_t key, int32_t value) {
        EXPECT_EQ(expected.at(key), value);
        ++visited;
    });
    EXPECT_EQ(visited, expected.size());
    // Compact: well below 40 bytes an entry even right after a doubling.
    EXPECT_LE(map.memoryBytes(), map.size() * 32);

    EXPECT_FALSE(map.insert(5 << 20, -3));
    EXPECT_EQ(*map.find(5 << 20), 5);

    map.clear();
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.find(0), nullptr);
    EXPECT_EQ(map.find(std::numeric_limits<int64_t>::min()), nullptr);
}

TEST(FMap, SavesTwelveByteEntriesAndLoadsThemBack) {
    TempFolder folder;
    const std::string path = folder.file("index.fm");
    Index map;
    map.set(-5, 100);
    map.set(std::numeric_limits<int64_t>::min(), 200);
    map.set(1234567890123, -1);
    ASSERT_TRUE(map.save(path));

    const std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 36u);
    std::map<std::string, std::string> entries;  // order carries no meaning
    for (size_t i = 0; i < 3; ++i)
        entries[bytes.substr(12 * i, 8)] = bytes.substr(12 * i + 8, 4);
    EXPECT_EQ(entries[le64(-5)], le32(100));
    EXPECT_EQ(entries[le64(std::numeric_limits<int64_t>::min())], le32(200));
    EXPECT_EQ(entries[le64(1234567890123)], le32(uint32_t(-1)));

    Index loaded;
    loaded.set(99, 99);  // replaced by the file's content
    ASSERT_TRUE(loaded.load(path));
    EXPECT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded.find(99), nullptr);
    EXPECT_EQ(*loaded.find(std::numeric_limits<int64_t>::min()), 200);
    EXPECT_EQ(FileSystem::listFolder(folder.path()).size(), 1u);  // no temporary left
}

TEST(FMap, LoadKeepsTheFirstOfRepeatedKeysAndIgnoresACutOffEntry) {
    TempFolder folder;
    const std::string path = folder.file("index.fm");
    writeBytes(path, le64(1) + le32(10) + le64(1) + le32(20) + le64(2) + le32(30) + "\x07\x07");
    Index map;
    ASSERT_TRUE(map.load(path));
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(*map.find(1), 10);
    EXPECT_EQ(*map.find(2), 30);
}

TEST(FMap, MissingFileLoadsEmptyUnreachableFileChangesNothing) {
    TempFolder folder;
    Index map;
    map.set(1, 1);
    ASSERT_TRUE(map.load(folder.file("new.fm")));
    EXPECT_EQ(map.size(), 0u);
    EXPECT_TRUE(FileSystem::fileExists(folder.file("new.fm")));

    map.set(2, 2);
    EXPECT_FALSE(map.load(folder.file("no/such/folder.fm")));
    EXPECT_EQ(map.size(), 1u);
    EXPECT_FALSE(map.save(folder.file("no/such/folder.fm")));
}
