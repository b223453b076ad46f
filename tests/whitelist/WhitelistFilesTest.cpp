#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <zlib.h>

#include <csignal>
#include <set>

#include "platform/FileSystem.h"
#include "storage/CommonWhitelist.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FileSizeCap.h"
#include "tests/support/TempFolder.h"
#include "tests/whitelist/WhitelistTestSupport.h"

namespace {

std::string keyBytes(int64_t key) {
    return recordBytes(0, key).substr(1);
}

std::string baseBytes(uint32_t base) {
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes.push_back(char(base >> (8 * i)));
    return bytes;
}

std::vector<Record> pullAll(CommonWhitelist& store, uint32_t startIndex) {
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    EXPECT_TRUE(store.getUpdates(startIndex, body, newIndex));
    return recordsOf(body);
}

// A store with keys -2, 5, 0x0102030405060708, base 1 and history [remove 9, add 0x0102..].
void fillSample(CommonWhitelist& store) {
    store.addKey(9);
    store.addKey(5);
    store.addKey(-2);
    store.removeKey(9);
    store.addKey(0x0102030405060708);
    store.trimHistory(2);
}

// The number of the save that wrote the pair: 7 bytes behind the keys; behind the history 4,
// then the CRC-32 of every byte before the trailer.
std::string keysTrailer(uint64_t save) {
    return keyBytes(int64_t(save)).substr(0, 7);
}
std::string withHistoryTrailer(const std::string& history, uint32_t save) {
    const uint32_t crc =
        uint32_t(crc32(0, reinterpret_cast<const Bytef*>(history.data()), uInt(history.size())));
    return history + baseBytes(save) + baseBytes(crc);
}

const std::string kSampleKeys = keyBytes(-2) + keyBytes(5) + keyBytes(0x0102030405060708);
const std::string kSampleHistory =
    baseBytes(3) + recordBytes(0, 9) + recordBytes(1, 0x0102030405060708);

}  // namespace

TEST(WhitelistFiles, SaveWritesExactBytesAndLoadRestores) {
    TempFolder dir;
    CommonWhitelist store;
    fillSample(store);
    ASSERT_TRUE(store.save(dir.folder()));
    EXPECT_EQ(readBytes(dir.file("whitelist.bin")), kSampleKeys + keysTrailer(1));
    EXPECT_EQ(readBytes(dir.file("whitelist_h.bin")), withHistoryTrailer(kSampleHistory, 1));
    // Only the two store files: no temporary file is left behind.
    EXPECT_EQ(FileSystem::listFolder(dir.path()).size(), 2u);

    CommonWhitelist loaded;
    ASSERT_TRUE(loaded.load(dir.folder()));
    EXPECT_EQ(loaded.historyBase(), 3u);
    EXPECT_EQ(loaded.end(), 5u);
    EXPECT_EQ(pullAll(loaded, 0), pullAll(store, 0));
    EXPECT_EQ(pullAll(loaded, 3), pullAll(store, 3));

    // A clear writes no key and a bare base; the save number goes on.
    ASSERT_TRUE(loaded.clear(dir.folder()));
    EXPECT_EQ(readBytes(dir.file("whitelist.bin")), keysTrailer(2));
    EXPECT_EQ(readBytes(dir.file("whitelist_h.bin")), withHistoryTrailer(baseBytes(0), 2));
}

TEST(WhitelistFiles, LoadCreatesMissingFilesEmpty) {
    TempFolder dir;
    CommonWhitelist store;
    ASSERT_TRUE(store.load(dir.folder()));
    EXPECT_TRUE(FileSystem::fileExists(dir.file("whitelist.bin")));
    EXPECT_EQ(FileSystem::fileSize(dir.file("whitelist_h.bin")), 0);
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.end(), 0u);
}

TEST(WhitelistFiles, LoadOfOddSizedFiles) {
    TempFolder dir;
    CommonWhitelist store;
    fillSample(store);  // historyBase 3 before the loads below

    // 20 bytes of keys, out of order and repeated: two keys, the last 4 bytes ignored.
    writeBytes(dir.file("whitelist.bin"), keyBytes(7) + keyBytes(-7) + "abcd");
    writeBytes(dir.file("whitelist_h.bin"), "");
    ASSERT_TRUE(store.load(dir.folder()));
    EXPECT_EQ(store.keyCount(), 2u);
    EXPECT_TRUE(store.containsKey(-7));
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(store.historyBase(), 3u);  // an empty history file keeps the base

    // Too short for a base: as good as empty.
    writeBytes(dir.file("whitelist_h.bin"), "\x09\x00");
    ASSERT_TRUE(store.load(dir.folder()));
    EXPECT_EQ(store.historyBase(), 3u);

    // 12 bytes: a base, then an op byte with only 7 key bytes after it.
    writeBytes(dir.file("whitelist.bin"), keyBytes(7) + keyBytes(7));
    writeBytes(dir.file("whitelist_h.bin"), baseBytes(40) + recordBytes(1, 7).substr(0, 8));
    ASSERT_TRUE(store.load(dir.folder()));
    EXPECT_EQ(store.keyCount(), 1u);
    EXPECT_EQ(store.historyBase(), 40u);
    EXPECT_EQ(store.count(), 0);

    // Records are taken as read, odd op bytes included; a trailing partial record is dropped.
    writeBytes(dir.file("whitelist_h.bin"), baseBytes(40) + recordBytes(7, 7) + "\x01\x02\x03");
    ASSERT_TRUE(store.load(dir.folder()));
    EXPECT_EQ(pullAll(store, 40), (std::vector<Record>{{7, 7}}));
}

TEST(WhitelistFiles, LoadOfLargeFileWithUnsortedTail) {
    TempFolder dir;
    // More keys than one read chunk, sorted, then keys out of order and repeated.
    std::string bytes;
    std::set<int64_t> expected;
    for (int64_t k = -6000; k < 6000; ++k) {
        bytes += keyBytes(k * 2);
        expected.insert(k * 2);
    }
    for (int64_t k : {int64_t(5), int64_t(-20001), int64_t(0), int64_t(99999)}) {
        bytes += keyBytes(k);
        expected.insert(k);
    }
    writeBytes(dir.file("whitelist.bin"), bytes);
    CommonWhitelist store;
    ASSERT_TRUE(store.load(dir.folder()));
    EXPECT_EQ(store.keyCount(), expected.size());
    // Saving writes them back sorted and without the repeats.
    ASSERT_TRUE(store.save(dir.folder()));
    std::string sorted;
    for (int64_t k : expected)
        sorted += keyBytes(k);
    EXPECT_EQ(readBytes(dir.file("whitelist.bin")), sorted + keysTrailer(1));
}

TEST(WhitelistFiles, FailedLoadsChangeWhatTheyShould) {
    TempFolder dir;
    CommonWhitelist store;
    fillSample(store);
    // No such folder: nothing changes.
    EXPECT_FALSE(store.load(dir.folder() + "missing/"));
    EXPECT_EQ(store.keyCount(), 3u);
    EXPECT_EQ(store.count(), 2);

    // The history cannot be opened: the keys are already replaced, the history is not.
    writeBytes(dir.file("whitelist.bin"), keyBytes(11));
    ASSERT_EQ(mkdir(dir.file("whitelist_h.bin").c_str(), 0755), 0);
    EXPECT_FALSE(store.load(dir.folder()));
    EXPECT_EQ(store.keyCount(), 1u);
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(store.historyBase(), 3u);
}

TEST(WhitelistFiles, FailedSaveLeavesOldFilesWhole) {
    TempFolder dir;
    CommonWhitelist store;
    EXPECT_FALSE(store.save(dir.folder() + "missing/"));

    fillSample(store);
    ASSERT_TRUE(store.save(dir.folder()));
    for (int64_t k = 100; k < 20000; ++k)
        store.addKey(k);

    // The key file's place is taken by a folder: the save fails after the history is
    // in place, and no temporary file is left behind.
    ASSERT_EQ(rename(dir.file("whitelist.bin").c_str(), dir.file("keys.old").c_str()), 0);
    ASSERT_EQ(mkdir(dir.file("whitelist.bin").c_str(), 0755), 0);
    EXPECT_FALSE(store.save(dir.folder()));
    for (const std::string& name : FileSystem::listFolder(dir.path()))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    // The old keys beside the new history load as the new keys: the history carries
    // every change the old key file lacks.
    ASSERT_EQ(rmdir(dir.file("whitelist.bin").c_str()), 0);
    ASSERT_EQ(rename(dir.file("keys.old").c_str(), dir.file("whitelist.bin").c_str()), 0);
    {
        CommonWhitelist loaded;
        ASSERT_TRUE(loaded.load(dir.folder()));
        EXPECT_EQ(loaded.keyCount(), store.keyCount());
        EXPECT_TRUE(loaded.containsKey(19999));
        EXPECT_EQ(pullAll(loaded, 0), pullAll(store, 0));
    }

    // Once it can, the same store saves and reloads completely.
    ASSERT_TRUE(store.save(dir.folder()));
    CommonWhitelist loaded;
    ASSERT_TRUE(loaded.load(dir.folder()));
    EXPECT_EQ(loaded.keyCount(), store.keyCount());
    EXPECT_EQ(pullAll(loaded, 0), pullAll(store, 0));
    EXPECT_EQ(pullAll(loaded, 4), pullAll(store, 4));
}

TEST(WhitelistFiles, SaveFailingMidWriteKeepsOldContent) {
    TempFolder dir;
    CommonWhitelist store;
    for (int64_t k = 0; k < 20000; ++k)
        store.addKey(k);
    store.trimHistory(1000);
    ASSERT_TRUE(store.save(dir.folder()));
    const std::string oldKeys = readBytes(dir.file("whitelist.bin"));
    const std::string oldHistory = readBytes(dir.file("whitelist_h.bin"));

    for (int64_t k = 20000; k < 40000; ++k)
        store.addKey(-k);
    store.trimHistory(1000);
    {
        // The new key file (320000 bytes) cannot be written completely.
        FileSizeCap cap(200000);
        EXPECT_FALSE(store.save(dir.folder()));
    }
    EXPECT_EQ(readBytes(dir.file("whitelist.bin")), oldKeys);
    EXPECT_EQ(readBytes(dir.file("whitelist_h.bin")), oldHistory);
    EXPECT_EQ(FileSystem::listFolder(dir.path()).size(), 2u);

    ASSERT_TRUE(store.save(dir.folder()));
    EXPECT_EQ(FileSystem::fileSize(dir.file("whitelist.bin")), 40000 * 8 + 7);
}
