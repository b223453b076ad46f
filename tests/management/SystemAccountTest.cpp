#include "apps/VantorSyncSvc/SystemAccount.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/AtomicFile.h"
#include "tests/support/TempFolder.h"

namespace {

uid_t ownerOf(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

}  // namespace

// A data folder that a root service left behind must become the account's, or the
// unprivileged service could not write its own stores.
TEST(SystemAccountTest, FolderOfAnotherOwnerIsHandedOverWithItsFilesButNotThroughLinks) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to change owners";
    const uid_t account = 65534;  // nobody: any account but root does
    TempFolder root;
    std::string folder = root.file("VantorSyncSvc");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(replaceFileContents(folder + "/whitelist.bin", "keys"));
    ASSERT_TRUE(replaceFileContents(root.file("elsewhere"), "not the service's"));
    ASSERT_EQ(::symlink(root.file("elsewhere").c_str(), (folder + "/link").c_str()), 0);

    ASSERT_TRUE(SystemAccount::handOver(folder, account, account));
    EXPECT_EQ(ownerOf(folder), account);
    EXPECT_EQ(ownerOf(folder + "/whitelist.bin"), account);
    EXPECT_EQ(ownerOf(root.file("elsewhere")), 0u);
    struct stat info;
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    EXPECT_FALSE(SystemAccount::handOver(folder + "/whitelist.bin", account, account));
}
