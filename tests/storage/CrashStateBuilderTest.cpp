// The crash states themselves: a state that keeps unsynced data as if synced, or loses
// synced data, would let every store test above pass or fail for nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "tests/storage/CrashExplorer.h"

namespace {

using Files = std::map<std::string, std::string>;

struct Script {
    const char* name;
    std::function<void(const std::string& folder)> run;
    std::set<Files> expected;  // the states of a crash after the last operation
};

void writeAt(int fd, off_t offset, const std::string& bytes) {
    ASSERT_EQ(::lseek(fd, offset, SEEK_SET), offset);
    ASSERT_EQ(fileOps().writeFd(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    fileOps().sync(fd);
    ::close(fd);
}

const std::string kPage(4096, 'p');

}  // namespace

TEST(CrashStateBuilder, KeepsSyncedDataAndNamesAndVariesTheRest) {
    const std::vector<Script> scripts = {
        {"a rename without a folder sync may be lost, unsynced data too",
         [](const std::string& folder) {
             const int fd = fileOps().open((folder + "/a").c_str(), O_CREAT | O_RDWR, 0600);
             writeAt(fd, 0, "AAAA");
             fileOps().sync(fd);
             syncFolder(folder);
             writeAt(fd, 4, "BBBB");
             ::close(fd);
             fileOps().rename((folder + "/a").c_str(), (folder + "/b").c_str());
         },
         {{{"b", "AAAABBBB"}},
          {{"a", "AAAA"}},
          {{"b", "AAAA"}},
          {{"a", "AAAABBBB"}},
          {{"b", std::string("AAAA\0\0\0\0", 8)}}}},
        {"a page reaches the disk as of one moment: dropping a write drops later ones to it",
         [](const std::string& folder) {
             const int fd = fileOps().open((folder + "/a").c_str(), O_CREAT | O_RDWR, 0600);
             fileOps().sync(fd);
             syncFolder(folder);
             writeAt(fd, 0, kPage);
             writeAt(fd, 4096, "X");
             writeAt(fd, 0, "q");
             ::close(fd);
         },
         {{{"a", "q" + kPage.substr(1) + "X"}},
          {{"a", ""}},
          {{"a", std::string(4096, '\0') + "X"}},
          {{"a", "q" + kPage.substr(1)}},
          {{"a", kPage + "X"}}}},
    };
    for (const Script& script : scripts) {
        CrashFolders folders;
        auto recorder = std::make_unique<FileOpRecorder>(folders.work, folders.vault);
        script.run(folders.work);
        CrashStates states(*recorder);
        const size_t last = recorder->ops().size();
        recorder.reset();
        std::set<Files> seen;
        states.explore(last, last, CrashStates::Breadth::quick, [&](const CrashState& state) {
            Files files;
            for (const auto& [name, inode] : state.names)
                files[name] = state.contents.at(inode);
            seen.insert(files);
        });
        EXPECT_EQ(seen, script.expected) << script.name;
    }
}
