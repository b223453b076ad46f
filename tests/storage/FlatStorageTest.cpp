#include "storage/FlatStorage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "storage/CommonWhitelist.h"
#include "tests/support/FaultyFileOps.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"

namespace {

HTTPParser::IOB wlRecords(std::initializer_list<int64_t> added) {
    HTTPParser::IOB body;
    for (int64_t key : added) {
        uint8_t record[WhitelistChange::kSize];
        WhitelistChange{WhitelistChange::kAdded, key}.encode(record);
        body.append(record, sizeof record);
    }
    return body;
}

}  // namespace

TEST(FlatStorage, OpenWithoutModeCreatesThenKeepsContent) {
    TempFolder dir;
    std::string path = dir.file("f.bin");
    {
        Storage::FlatStorage file;
        ASSERT_TRUE(file.open(path));
        int32_t values[2] = {7, 9};
        EXPECT_EQ(file.write(values, 4, 2), 2u);
    }
    {
        Storage::FlatStorage file;
        ASSERT_TRUE(file.open(path));  // r+b: no truncation
        int32_t value = 0;
        EXPECT_EQ(file.read(&value, 4, 1), 1u);
        EXPECT_EQ(value, 7);
        EXPECT_EQ(file.tell(), 4);
        EXPECT_TRUE(file.seek(0, SEEK_END));
        EXPECT_EQ(file.tell(), 8);
        // Whole items only: 8 bytes hold no 12-byte item.
        file.seek(0, SEEK_SET);
        char item[12];
        EXPECT_EQ(file.read(item, 12, 1), 0u);
    }
}

TEST(FlatStorage, ClosedFileReportsNothing) {
    Storage::FlatStorage file;
    char byte;
    EXPECT_EQ(file.read(&byte, 1, 1), 0u);
    EXPECT_EQ(file.write(&byte, 1, 1), 0u);
    EXPECT_FALSE(file.seek(0, SEEK_SET));
    EXPECT_EQ(file.tell(), 0);
    EXPECT_FALSE(file.open("/nonexistent-folder/x.bin", "rb"));
}

TEST(FlatStorage, SecondOpenKeepsFirstFile) {
    TempFolder dir;
    writeBytes(dir.file("a"), "A");
    writeBytes(dir.file("b"), "B");
    Storage::FlatStorage file;
    ASSERT_TRUE(file.open(dir.file("a"), "rb"));
    EXPECT_TRUE(file.open(dir.file("b"), "rb"));
    char byte = 0;
    file.read(&byte, 1, 1);
    EXPECT_EQ(byte, 'A');
}

// Only a missing file is created. A file that is there but cannot be opened (a failing
// disk, no permission, a folder in its place) fails the open and the store's load, and
// keeps its bytes: a store that started empty would save over it.
TEST(FlatStorage, OnlyAMissingFileIsCreated) {
    struct Case {
        const char* name;
        int failedOpen;  // of the load's opens; 0: a folder stands in the file's place
        const char* target;
    };
    for (const Case& c : {Case{"EIO on the key file", 1, "whitelist.bin"},
                          Case{"EIO on the history file", 2, "whitelist_h.bin"},
                          Case{"a folder as key file", 0, "whitelist.bin"}}) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        {
            CommonWhitelist store;
            ASSERT_TRUE(store.load(dir.folder()));
            uint32_t newIndex = 0;
            ASSERT_TRUE(store.push(wlRecords({1, 2, 3}), 100, dir.folder(), newIndex));
        }
        const std::string keys = readBytes(dir.file("whitelist.bin"));
        const std::string history = readBytes(dir.file("whitelist_h.bin"));
        if (c.failedOpen == 0) {
            ASSERT_EQ(std::rename(dir.file(c.target).c_str(), dir.file("moved").c_str()), 0);
            ASSERT_EQ(mkdir(dir.file(c.target).c_str(), 0700), 0);
        }
        {
            FaultyFileOps ops;
            ops.failOpenAt(c.failedOpen > 0 ? 1 : 0, EIO);
            Storage::FlatStorage file;
            EXPECT_FALSE(file.open(dir.file(c.target)));
        }
        {
            FaultyFileOps ops;
            ops.failOpenAt(c.failedOpen, EIO);  // the load opens the key file first
            CommonWhitelist store;
            EXPECT_FALSE(store.load(dir.folder()));
        }
        if (c.failedOpen == 0) {
            ASSERT_EQ(rmdir(dir.file(c.target).c_str()), 0);
            ASSERT_EQ(std::rename(dir.file("moved").c_str(), dir.file(c.target).c_str()), 0);
        }
        EXPECT_EQ(readBytes(dir.file("whitelist.bin")), keys);
        EXPECT_EQ(readBytes(dir.file("whitelist_h.bin")), history);
        CommonWhitelist store;
        ASSERT_TRUE(store.load(dir.folder()));
        EXPECT_TRUE(store.containsKey(1) && store.containsKey(3));
    }
}
