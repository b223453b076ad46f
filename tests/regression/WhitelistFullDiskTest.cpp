// A whitelist save that runs out of room must leave the keys file and the history file
// of the last good save together: a new keys file beside an old history would hold keys
// that no client can ever pull as changes.
#include <gtest/gtest.h>

#include "storage/CommonWhitelist.h"
#include "tests/support/FileSizeCap.h"
#include "tests/support/TempFolder.h"

TEST(WhitelistFullDisk, FailedSaveKeepsBothFilesOfTheLastSave) {
    TempFolder dir;
    CommonWhitelist store;
    ASSERT_TRUE(store.addKey(-1000));
    ASSERT_TRUE(store.save(dir.folder()));

    // 1000 keys: a keys file of 8008 bytes fits under the cap, a history file of
    // 9013 bytes does not, and its last bytes fail only when the file is flushed.
    for (int64_t key = 1; key < 1000; ++key)
        ASSERT_TRUE(store.addKey(key));
    {
        FileSizeCap cap(8192);
        EXPECT_FALSE(store.save(dir.folder()));
    }

    CommonWhitelist reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    EXPECT_EQ(reloaded.keyCount(), 1u);
    EXPECT_EQ(reloaded.end(), 1u);

    // With room again the store saves what it held in memory.
    ASSERT_TRUE(store.save(dir.folder()));
    CommonWhitelist restarted;
    ASSERT_TRUE(restarted.load(dir.folder()));
    EXPECT_EQ(restarted.keyCount(), 1000u);
    EXPECT_EQ(restarted.end(), 1000u);
}
