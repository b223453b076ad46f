#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/FileSystem.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"

TEST(AtomicFile, ReplacesContentAndLeavesNoTemporaryFiles) {
    TempFolder dir;
    std::string target = dir.file("store.bin");
    writeBytes(target, "old content");
    ASSERT_TRUE(replaceFileContents(target, std::string("new\0bytes", 9)));
    EXPECT_EQ(readBytes(target), std::string("new\0bytes", 9));
    EXPECT_EQ(FileSystem::listFolder(dir.path()).size(), 1u);
}

TEST(AtomicFile, DiscardedWriterKeepsOldContent) {
    TempFolder dir;
    std::string target = dir.file("store.bin");
    writeBytes(target, "old");
    {
        AtomicFileWriter writer(target);
        ASSERT_TRUE(writer.open());
        ASSERT_TRUE(writer.write("partial", 7));
        // No commit: the process "dies" before the rename.
    }
    EXPECT_EQ(readBytes(target), "old");
    EXPECT_EQ(FileSystem::listFolder(dir.path()).size(), 1u);
}

TEST(AtomicFile, UnwritableFolderFailsAndTargetStays) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root ignores folder permissions";
    TempFolder dir;
    std::string target = dir.file("store.bin");
    writeBytes(target, "old");
    chmod(dir.path().c_str(), 0555);
    EXPECT_FALSE(replaceFileContents(target, "new"));
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(readBytes(target), "old");
}

TEST(AtomicFile, MissingFolderFails) {
    TempFolder dir;
    EXPECT_FALSE(replaceFileContents(dir.file("no/such/folder/x.bin"), "x"));
}
