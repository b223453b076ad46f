// A restore's moves interrupted at every rename: the next start must leave either the old
// files or the restored ones in place, never a mix, and keep the old ones aside.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "backup/BackupVerify.h"
#include "backup/RestoreSwap.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "tests/support/FaultyFileOps.h"
#include "tests/support/TempFolder.h"

namespace {

const std::string kIndexName = "histdata.bin.fm";

void writeAll(const std::string& folder, const std::string& tag) {
    for (const std::string& name : BackupVerify::backupFiles())
        ASSERT_TRUE(replaceFileContents(folder + name, tag + name));
}

std::string read(const std::string& path) {
    std::string text;
    return FileSystem::readFile(path, text) ? text : "(missing)";
}

}  // namespace

TEST(RestoreSwap, EveryInterruptedSwapEndsWhollyOldOrWhollyRestored) {
    for (int failingRename = 1; failingRename <= 16; ++failingRename) {
        SCOPED_TRACE("rename " + std::to_string(failingRename) + " fails");
        TempFolder backup, data;
        writeAll(backup.folder(), "new:");
        writeAll(data.folder(), "old:");
        ASSERT_TRUE(replaceFileContents(data.folder() + kIndexName, "old index"));
        std::string why, aside;
        ASSERT_TRUE(RestoreSwap::stage(backup.folder(), data.folder(), why)) << why;
        bool swapped;
        {
            FaultyFileOps ops;
            ops.failAt(FaultyFileOps::Kind::rename, failingRename);
            swapped = RestoreSwap::swapIn(data.folder(), aside, why);
        }
        ASSERT_TRUE(RestoreSwap::finishInterrupted(data.folder(), why)) << why;
        const bool restored = read(data.folder() + "config.xml") == "new:config.xml";
        EXPECT_TRUE(restored || !swapped);
        for (const std::string& name : BackupVerify::backupFiles())
            EXPECT_EQ(read(data.folder() + name), (restored ? "new:" : "old:") + name);
        // The old index must not stay beside restored records.
        EXPECT_EQ(FileSystem::fileExists(data.folder() + kIndexName), !restored);
        EXPECT_FALSE(FileSystem::folderExists(RestoreSwap::stagingFolder(data.folder())));
        EXPECT_FALSE(FileSystem::fileExists(data.folder() + RestoreSwap::kReadyName));
        if (restored) {
            bool keptAside = false;
            for (const std::string& name : FileSystem::listFolder(data.path())) {
                keptAside =
                    keptAside || read(data.folder() + name + "/config.xml") == "old:config.xml";
            }
            EXPECT_TRUE(keptAside);
        }
    }
}
