#include "storage/FlatStorage.h"

#include <gtest/gtest.h>

#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"

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
