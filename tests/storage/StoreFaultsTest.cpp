// Restarts, crashes and odd files that once broke the promise that an index names the
// same change for ever.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "tests/support/FaultyFileOps.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"

namespace {

uint32_t tdbPush(CommonTrainingDb& db, const std::string& bytes, uint32_t maxSize = 100000) {
    HTTPParser::IOB body;
    fill(body, bytes);
    uint32_t newIndex = 0;
    EXPECT_TRUE(db.push(body, maxSize, newIndex));
    return newIndex;
}

std::string tdbPull(CommonTrainingDb& db, uint32_t from, uint32_t& newIndex) {
    HTTPParser::IOB body;
    EXPECT_TRUE(db.getUpdates(from, body, newIndex));
    return contents(body);
}

// Runs fn in a child process that dies at its nth file operation; true when it died there.
template <typename Fn>
bool crashAt(int n, Fn fn) {
    const pid_t child = fork();
    if (child == 0) {
        FaultyFileOps ops;
        ops.crashAt(n);
        fn();
        _exit(3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(TrainingDbRestart, ClientsKeepTheirIndexesAfterStopOrCrash) {
    for (bool crash : {false, true}) {
        TempFolder dir;
        auto db = std::make_unique<CommonTrainingDb>();
        ASSERT_TRUE(db->load(dir.folder()));
        const std::string x1 = record(1, 1, {1}), y = record(1, 1, {2}), z = record(1, 1, {3});
        tdbPush(*db, x1);
        tdbPush(*db, y);
        uint32_t clientA = 0;
        tdbPull(*db, 0, clientA);
        ASSERT_EQ(clientA, 2u);
        tdbPush(*db, record(2, 1, {1}));  // X relabelled: the first record is superseded
        EXPECT_EQ(tdbPush(*db, z), 4u);
        if (!crash) {
            ASSERT_TRUE(db->flush());
        }
        db.reset();  // a crash: no flush, nothing more written

        CommonTrainingDb restarted;
        ASSERT_TRUE(restarted.load(dir.folder()));
        uint32_t newIndex = 0;
        EXPECT_EQ(tdbPull(restarted, clientA, newIndex), record(2, 1, {1}) + z) << crash;
        EXPECT_EQ(newIndex, 4u);
        // A client synced at 4 receives the next push.
        const std::string w = record(1, 1, {4});
        EXPECT_EQ(tdbPush(restarted, w), 5u);
        EXPECT_EQ(tdbPull(restarted, 4, newIndex), w);
        EXPECT_EQ(newIndex, 5u);
    }
}

TEST(TrainingDbRestart, CrashAroundACompactionKeepsTheNumbering) {
    // Four descriptors with a maximum of 2: the fourth push trims and compacts.
    // Whatever operation of that push the crash hits, the indexes mean the same.
    for (int n = 1;; ++n) {
        TempFolder dir;
        {
            CommonTrainingDb db;
            ASSERT_TRUE(db.load(dir.folder()));
            for (int64_t v = 1; v <= 3; ++v)
                tdbPush(db, record(1, 1, {v}), 2);
        }
        const bool died = crashAt(n, [&] {
            CommonTrainingDb db;
            db.load(dir.folder());
            HTTPParser::IOB body;
            fill(body, record(1, 1, {4}));
            uint32_t newIndex = 0;
            db.push(body, 2, newIndex);
        });
        CommonTrainingDb loaded;
        ASSERT_TRUE(loaded.load(dir.folder()));
        uint32_t newIndex = 0;
        const std::string all = tdbPull(loaded, loaded.historyBase(), newIndex);
        // Before the push: 2..3 with base 1; after it 3..4 with base 2, or 2..4 when the
        // crash came before the trim.
        const uint32_t base = loaded.historyBase();
        if (loaded.end() == 3u) {
            EXPECT_EQ(base, 1u) << n;
            EXPECT_EQ(all, record(1, 1, {2}) + record(1, 1, {3})) << n;
        } else {
            EXPECT_EQ(loaded.end(), 4u) << n;
            EXPECT_EQ(tdbPull(loaded, 3, newIndex), record(1, 1, {4})) << n;
            EXPECT_EQ(tdbPull(loaded, 2, newIndex), record(1, 1, {3}) + record(1, 1, {4})) << n;
        }
        EXPECT_FALSE(FileSystem::fileExists(dir.file("histdata.bin.new")));
        if (!died)
            break;
        ASSERT_LT(n, 200);
    }
}

TEST(TrainingDbLoad, DamagedRecordInTheMiddleIsSetAsideNotCut) {
    TempFolder dir;
    const std::string good = record(1, 1, {1});
    const std::string damaged = le32(1) + le32(1) + le32(20000) + le64(5);
    const std::string after = record(1, 1, {2}) + record(1, 1, {3});
    writeBytes(dir.file("histdata.bin"), good + damaged + after);
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    EXPECT_EQ(db.count(), 1);
    EXPECT_EQ(readBytes(dir.file("histdata.bin")), good);
    // The whole damaged file is kept under a new name.
    int aside = 0;
    for (const std::string& name : FileSystem::listFolder(dir.path())) {
        if (name.rfind("histdata.bin.damaged-", 0) == 0) {
            ++aside;
            EXPECT_EQ(readBytes(dir.file(name)), good + damaged + after);
        }
    }
    EXPECT_EQ(aside, 1);
    // Appending goes on behind the readable records.
    EXPECT_EQ(tdbPush(db, record(1, 1, {7})), 2u);
}

// Bytes behind the last acknowledged push are what a power loss may leave of appends
// that were never synced (torn, or with holes of zeros): the check names them and a load
// cuts them, where it once read them as records. Damage before that end is named too.
TEST(TrainingDbCheckFiles, BytesPastTheAcknowledgedEndAreNamedAndCut) {
    TempFolder dir;
    const std::string acknowledged = record(1, 1, {1}) + record(2, 1, {2, 3});
    {
        CommonTrainingDb db;
        ASSERT_TRUE(db.load(dir.folder()));
        tdbPush(db, record(1, 1, {1}));
        tdbPush(db, record(2, 1, {2, 3}));
    }
    const std::string dataPath = dir.file("histdata.bin");
    ASSERT_EQ(readBytes(dataPath), acknowledged);
    EXPECT_TRUE(CommonTrainingDb::checkFiles(dir.folder()).empty());
    struct Case {
        const char* name;
        std::string data;
        const char* problem;
    };
    for (const Case& c :
         {Case{"a hole of zeros", acknowledged + std::string(40, '\0'), "never acknowledged"},
          Case{"a torn record", acknowledged + record(1, 1, {4, 5}).substr(0, 20),
               "never acknowledged"},
          Case{"damage before the end",
               acknowledged.substr(0, 8) + le32(20000) + acknowledged.substr(12), "damaged"},
          Case{"a status no push writes",
               acknowledged.substr(0, 4) + le32(0) + acknowledged.substr(8), "has the status 0"}}) {
        SCOPED_TRACE(c.name);
        writeBytes(dataPath, c.data);  // in place: the recorded end stays this file's
        std::vector<std::string> problems = CommonTrainingDb::checkFiles(dir.folder());
        ASSERT_FALSE(problems.empty());
        EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
        EXPECT_EQ(readBytes(dataPath), c.data);
        if (c.data.size() <= acknowledged.size())
            continue;
        CommonTrainingDb db;
        ASSERT_TRUE(db.load(dir.folder()));
        uint32_t newIndex = 0;
        EXPECT_EQ(tdbPull(db, 0, newIndex), acknowledged);
        EXPECT_EQ(newIndex, 2u);
        EXPECT_TRUE(CommonTrainingDb::checkFiles(dir.folder()).empty());
    }
    // The options file: a length no build writes, and a history start 5 bytes into the
    // first record (base 0, start, no shift pending, no file id).
    writeBytes(dataPath, acknowledged);
    const std::string optionsPath = dir.file(CommonTrainingDb::kOptionsFileName);
    for (const Case& c :
         {Case{"options of 7 bytes", std::string(7, '\0'), "neither 4 nor 20"},
          Case{"a start inside a record", le32(0) + le32(5) + le32(0) + std::string(8, '\0'),
               "which is not a record"}}) {
        SCOPED_TRACE(c.name);
        writeBytes(optionsPath, c.data);
        const std::vector<std::string> problems = CommonTrainingDb::checkFiles(dir.folder());
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
    }
}

// Records a crash can leave (a relabel's new record durable, its old one's head not
// yet rewritten) and what a load makes of them.
TEST(TrainingDbLoad, TwoCurrentRecordsOfOneDescriptorBecomeOne) {
    struct Case {
        std::string file;
        std::string served;
    };
    const Case cases[] = {
        {record(1, 1, {1, 2}) + record(2, 1, {2, 1}),
         record(2, 1000, {1, 2}) + record(2, 1, {2, 1})},
        // Only a shared fingerprint (1^6 == 2^5): two descriptors, both current.
        {record(1, 1, {1, 6}) + record(2, 1, {2, 5}), record(1, 1, {1, 6}) + record(2, 1, {2, 5})},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        writeBytes(dir.file("histdata.bin"), c.file);
        CommonTrainingDb db;
        ASSERT_TRUE(db.load(dir.folder()));
        uint32_t newIndex = 0;
        EXPECT_EQ(tdbPull(db, 0, newIndex), c.served);
        EXPECT_EQ(readBytes(dir.file("histdata.bin")), c.served);
    }
}

// A disk that fails the sync and then the cut-back (as a file system turning read-only
// does): the store refuses pushes until it can cut the failed records, and no failed
// push is ever served, before or after a restart.
TEST(TrainingDbDoubleFault, FailedCutBackStopsPushesUntilTheCutHolds) {
    struct FailingDisk : FileOps {
        bool failSync = false, failTruncate = false;
        int sync(int fd) override { return failSync ? -1 : FileOps::sync(fd); }
        int truncate(int fd, off_t length) override {
            return failTruncate ? -1 : FileOps::truncate(fd, length);
        }
    } disk;
    TempFolder dir;
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    const std::string x = record(1, 1, {1}), w = record(1, 1, {4});
    tdbPush(db, x);
    setFileOps(&disk);
    const auto push = [&](const std::string& bytes) {
        HTTPParser::IOB body;
        fill(body, bytes);
        uint32_t newIndex = 0;
        return db.push(body, 100000, newIndex) ? newIndex : 0u;
    };
    disk.failSync = disk.failTruncate = true;
    EXPECT_EQ(push(record(1, 1, {2})), 0u);
    disk.failSync = false;  // syncs work again, but the failed records are still there
    EXPECT_EQ(push(record(1, 1, {3})), 0u);
    disk.failTruncate = false;
    EXPECT_EQ(push(w), 2u);
    setFileOps(nullptr);
    uint32_t newIndex = 0;
    EXPECT_EQ(tdbPull(db, 0, newIndex), x + w);
    ASSERT_TRUE(db.flush());
    CommonTrainingDb restarted;
    ASSERT_TRUE(restarted.load(dir.folder()));
    EXPECT_EQ(tdbPull(restarted, 0, newIndex), x + w);
    EXPECT_EQ(newIndex, 2u);
}

TEST(TrainingDbNumbering, HistoryIsNumberedAgainLongBeforeIndexesRunOut) {
    TempFolder dir;
    const std::string x = record(1, 1, {1}), y = record(1, 1, {2});
    writeBytes(dir.file("histdata.bin"), x);
    const uint32_t base = CommonTrainingDb::kRenumberAt - 2;
    writeBytes(dir.file("histopt.bin"), le32(base) + le32(0) + le32(0) + le64(0));
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    ASSERT_EQ(db.end(), base + 1);
    const uint32_t told = tdbPush(db, y);
    // Clients ahead of the new end, the pusher among them, receive everything held.
    EXPECT_EQ(db.historyBase(), 0u);
    EXPECT_EQ(db.end(), 2u);
    CommonTrainingDb restarted;
    ASSERT_TRUE(restarted.load(dir.folder()));
    uint32_t newIndex = 0;
    EXPECT_EQ(tdbPull(restarted, told, newIndex), x + y);
    EXPECT_EQ(newIndex, 2u);
}

TEST(TrainingDbCompaction, LargeFileIsCompactedBeforeOffsetsRunOut) {
    TempFolder dir;
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    db.setCompactionSize(1000);  // 10 records of 100 bytes
    std::vector<int64_t> values(11);
    for (int64_t d = 0; d < 60; ++d) {
        for (size_t v = 0; v < values.size(); ++v)
            values[v] = d * 100 + int64_t(v);
        EXPECT_EQ(tdbPush(db, record(1, 1, values)), uint32_t(d + 1));
        EXPECT_LE(FileSystem::fileSize(dir.file("histdata.bin")), 1000);
    }
    // The oldest records left the history as if trimmed; the rest keep their indexes.
    EXPECT_GT(db.historyBase(), 0u);
    uint32_t newIndex = 0;
    const std::string newest = tdbPull(db, 59, newIndex);
    for (size_t v = 0; v < values.size(); ++v)
        values[v] = 5900 + int64_t(v);
    EXPECT_EQ(newest, record(1, 1, values));
    CommonTrainingDb reloaded;
    ASSERT_TRUE(reloaded.load(dir.folder()));
    EXPECT_EQ(reloaded.historyBase(), db.historyBase());
    EXPECT_EQ(tdbPull(reloaded, 59, newIndex), newest);
}

TEST(StoreFiles, LeftoverTemporariesGoAtLoadAndOthersStay) {
    TempFolder dir;
    for (const char* name :
         {"whitelist.bin.tmpAbC123", "whitelist_h.bin.tmpXYZ789", "histopt.bin.tmp000000",
          "histdata.bin.fm.tmpqwerty", "histdata.bin.new"})
        writeBytes(dir.file(name), std::string(100, 'x'));
    writeBytes(dir.file("whitelist.bin.tmp-mine"), "keep");
    writeBytes(dir.file("notes.tmpABCDEF"), "keep");
    CommonWhitelist whitelist;
    ASSERT_TRUE(whitelist.load(dir.folder()));
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(dir.folder()));
    std::vector<std::string> names = FileSystem::listFolder(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"histdata.bin", "histdata.bin.end", "histdata.bin.fm",
                                        "histopt.bin", "notes.tmpABCDEF", "whitelist.bin",
                                        "whitelist.bin.tmp-mine", "whitelist_h.bin"}));
}

TEST(StoreFiles, DataFilesAndFolderAreTheServicesAlone) {
    TempFolder dir;
    const mode_t old = umask(022);
    ASSERT_TRUE(FileSystem::createFolders(dir.file("data/sub")));
    const std::string folder = dir.file("data/sub/");
    CommonWhitelist whitelist;
    ASSERT_TRUE(whitelist.load(folder));
    CommonTrainingDb db;
    ASSERT_TRUE(db.load(folder));
    struct stat st;
    // As a first start creates them, and as saves and compactions replace them.
    for (const std::string& name : FileSystem::listFolder(folder)) {
        ASSERT_EQ(stat((folder + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
    ASSERT_TRUE(whitelist.save(folder));
    tdbPush(db, record(1, 1, {1}) + record(1, 1, {2}), 1);  // trims and compacts
    ASSERT_TRUE(db.flush());
    ASSERT_TRUE(replaceFileContents(folder + "config.xml", "<config/>"));
    umask(old);
    for (const std::string& path : {dir.file("data"), dir.file("data/sub")}) {
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << path;
    }
    for (const std::string& name : FileSystem::listFolder(folder)) {
        ASSERT_EQ(stat((folder + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
}

}  // namespace
