#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "apps/VantorSyncSvc/SvcLog.h"
#include "platform/FileSystem.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"

namespace {

// Log dates are local dates; every test runs in a fixed zone with daylight saving time.
class SvcLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = getenv("TZ");
        if (old != nullptr)
            oldZone_ = old;
        hadZone_ = old != nullptr;
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        log.setFolder(folder.folder());
        log.setEnabled(true);
        log.setClock([this] { return now; });
    }
    void TearDown() override {
        if (hadZone_) {
            setenv("TZ", oldZone_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

    // A local wall-clock moment in the test's zone.
    static time_t localTime(int year, int month, int day, int hour = 12, int minute = 0,
                            int second = 0) {
        struct tm fields {};
        fields.tm_year = year - 1900;
        fields.tm_mon = month - 1;
        fields.tm_mday = day;
        fields.tm_hour = hour;
        fields.tm_min = minute;
        fields.tm_sec = second;
        fields.tm_isdst = -1;
        return mktime(&fields);
    }

    // Lines reach the file in batches; these read what the log has written once flushed.
    std::string logged(const std::string& name) {
        log.flush();
        return readBytes(folder.file(name));
    }
    std::vector<std::string> files() {
        log.flush();
        auto names = FileSystem::listFolder(folder.path());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempFolder folder;
    SvcLog log;
    time_t now = 0;

  private:
    bool hadZone_ = false;
    std::string oldZone_;
};

}  // namespace

TEST_F(SvcLogTest, FileNamesForLocalDates) {
    EXPECT_EQ(SvcLog::fileNameFor(localTime(2026, 12, 8)), "08-12-2026.log");
    EXPECT_EQ(SvcLog::fileNameFor(localTime(2027, 3, 25)), "25-03-2027.log");
    // Half past midnight already belongs to the new day.
    EXPECT_EQ(SvcLog::fileNameFor(localTime(2027, 1, 1, 0, 30)), "01-01-2027.log");
}

TEST_F(SvcLogTest, LineFormat) {
    now = localTime(2026, 12, 8, 7, 5, 9);
    log.write("%s %s %s %s %d %d %d", "10.0.0.1", "pc1", "GET", "/get_wl_updates", 200, 0, 18);
    log.write("second");
    EXPECT_EQ(log.currentPath(), folder.file("08-12-2026.log"));
    EXPECT_EQ(logged("08-12-2026.log"),
              "07:05:09 10.0.0.1 pc1 GET /get_wl_updates 200 0 18\r\n07:05:09 second\r\n");
}

TEST_F(SvcLogTest, DisabledLogWritesNothing) {
    SvcLog fresh;
    fresh.setFolder(folder.folder());
    fresh.write("not written");  // off until switched on
    log.setEnabled(false);
    log.write("not written");
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(fresh.lifetime(), 10);
    EXPECT_FALSE(fresh.enabled());
}

TEST_F(SvcLogTest, ControlBytesCannotForgeLines) {
    now = localTime(2026, 12, 8, 1, 2, 3);
    log.write("host=%s end", "evil\r\n01:02:03 forged\x7f\t\x01");
    EXPECT_EQ(logged("08-12-2026.log"),
              "01:02:03 host=evil\\x0d\\x0a01:02:03 forged\\x7f\\x09\\x01 end\r\n");
}

TEST_F(SvcLogTest, LongMessagesGrowTheBuffer) {
    now = localTime(2026, 12, 8, 1, 2, 3);
    std::string text(5000, 'x');
    log.write("%s|", text.c_str());
    EXPECT_EQ(logged("08-12-2026.log"), "01:02:03 " + text + "|\r\n");
}

TEST_F(SvcLogTest, CleanUpKeepsLifetimeDays) {
    now = localTime(2026, 12, 8, 9);
    for (int day = 1; day <= 12; ++day) {
        writeBytes(folder.file(SvcLog::fileNameFor(now - day * 86400)), "old");
    }
    writeBytes(folder.file("2026-12-07.log"), "foreign date format");
    writeBytes(folder.file("07-12-2026.LOG"), "upper-case extension");
    writeBytes(folder.file("notes.txt"), "not a log");
    writeBytes(folder.file("log"), "no extension");
    log.setLifetime(10);
    log.write("first");

    std::vector<std::string> expected;
    for (int day = 0; day <= 9; ++day)
        expected.push_back(SvcLog::fileNameFor(now - day * 86400));
    expected.push_back("log");
    expected.push_back("notes.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files(), expected);
}

TEST_F(SvcLogTest, CleanUpRunsOnlyWhenDayFileIsCreated) {
    now = localTime(2026, 12, 8, 9);
    log.setLifetime(1);
    log.write("first");
    log.flush();
    writeBytes(folder.file("07-12-2026.log"), "appears later the same day");
    log.write("second");
    EXPECT_EQ(files(), (std::vector<std::string>{"07-12-2026.log", "08-12-2026.log"}));

    // Deleting today's file makes the next line clean up and start it again.
    FileSystem::removeFile(folder.file("08-12-2026.log"));
    log.write("third");
    EXPECT_EQ(files(), (std::vector<std::string>{"08-12-2026.log"}));
    EXPECT_NE(logged("08-12-2026.log").find("third"), std::string::npos);
}

// Berlin changes to summer time on 29 March 2026 (a 23-hour day) and back on 25 October
// 2026 (a 25-hour day); whole multiples of 86,400 s miss a calendar day next to either.
TEST_F(SvcLogTest, CleanUpStepsBackInCalendarDaysAcrossDaylightSavingChanges) {
    now = localTime(2026, 3, 30, 0, 30);  // just after midnight, the day after the change
    writeBytes(folder.file("29-03-2026.log"), "yesterday, 23 hours long");
    writeBytes(folder.file("28-03-2026.log"), "two days ago");
    log.setLifetime(2);
    log.write("spring");
    EXPECT_EQ(files(), (std::vector<std::string>{"29-03-2026.log", "30-03-2026.log"}));

    now = localTime(2026, 10, 26, 23, 30);  // late evening, the day after the change back
    writeBytes(folder.file("25-10-2026.log"), "yesterday, 25 hours long");
    writeBytes(folder.file("24-10-2026.log"), "two days ago");
    writeBytes(folder.file("23-10-2026.log"), "three days ago");
    log.setLifetime(3);
    log.write("autumn");
    EXPECT_EQ(files(),
              (std::vector<std::string>{"24-10-2026.log", "25-10-2026.log", "26-10-2026.log"}));
}

TEST_F(SvcLogTest, LifetimeOneKeepsOnlyTheNewDay) {
    now = localTime(2027, 3, 25, 9);
    writeBytes(folder.file("24-03-2027.log"), "yesterday");
    writeBytes(folder.file("x.Log"), "other");
    log.setLifetime(1);
    log.write("today");
    EXPECT_EQ(files(), (std::vector<std::string>{"25-03-2027.log"}));
}

TEST_F(SvcLogTest, NonPositiveOrHugeLifetime) {
    now = localTime(2027, 3, 25, 9);
    writeBytes(folder.file("25-03-2027.old.log"), "x");
    log.setLifetime(0);
    log.write("a");
    EXPECT_EQ(files(), (std::vector<std::string>{"25-03-2027.log"}));

    now += 86400;
    log.setLifetime(2147483647);  // must not loop for billions of days
    log.write("b");
    EXPECT_EQ(files(), (std::vector<std::string>{"25-03-2027.log", "26-03-2027.log"}));
}

TEST_F(SvcLogTest, UnwritableFolderLosesLineQuietly) {
    log.setFolder(folder.file("missing") + "/");
    log.write("lost");
    now = localTime(2027, 3, 25, 9);
    log.setFolder(folder.folder());
    log.write("kept");
    EXPECT_EQ(files(), (std::vector<std::string>{"25-03-2027.log"}));
}

TEST_F(SvcLogTest, ConcurrentWritersNeverInterleave) {
    now = localTime(2027, 3, 25, 9);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < 1000; ++i)
                log.write("writer %d line %d %s", t, i, "payload");
        });
    }
    for (auto& writer : writers)
        writer.join();
    std::string bytes = logged("25-03-2027.log");
    size_t lines = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::string line = bytes.substr(start, end - start);
        EXPECT_EQ(line.rfind("09:00:00 writer ", 0), 0u) << line;
        EXPECT_EQ(line.substr(line.size() - 8), " payload") << line;
        ++lines;
        start = end + 2;
    }
    EXPECT_EQ(lines, 4000u);  // more than one batch
}

namespace {

// Waits, boundedly, for the background flush; a test never depends on how soon it comes.
std::string awaitBytes(const std::string& path, const std::string& wanted) {
    std::string bytes;
    for (int i = 0; i < 2000; ++i) {
        bytes = readBytes(path);
        if (bytes == wanted)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return bytes;
}

}  // namespace

TEST_F(SvcLogTest, LinesReachTheFileWithoutBeingAskedTo) {
    now = localTime(2026, 12, 8, 10, 0, 0);
    log.write("one");
    log.write("two");
    EXPECT_EQ(awaitBytes(folder.file("08-12-2026.log"), "10:00:00 one\r\n10:00:00 two\r\n"),
              "10:00:00 one\r\n10:00:00 two\r\n");
}

TEST_F(SvcLogTest, CleanStopLosesNoLine) {
    now = localTime(2026, 12, 8, 10, 0, 0);
    {
        SvcLog scoped;
        scoped.setFolder(folder.folder());
        scoped.setEnabled(true);
        scoped.setClock([this] { return now; });
        scoped.write("before the end");
    }
    EXPECT_EQ(readBytes(folder.file("08-12-2026.log")), "10:00:00 before the end\r\n");

    log.write("closed");
    log.close();
    EXPECT_EQ(readBytes(folder.file("08-12-2026.log")),
              "10:00:00 before the end\r\n10:00:00 closed\r\n");
    log.write("reopened");  // a line after close opens the file again
    log.close();
    EXPECT_EQ(readBytes(folder.file("08-12-2026.log")),
              "10:00:00 before the end\r\n10:00:00 closed\r\n10:00:00 reopened\r\n");
}

TEST_F(SvcLogTest, RotatedFileIsReplacedByANewOne) {
    now = localTime(2026, 12, 8, 10, 0, 0);
    const std::string day = folder.file("08-12-2026.log");
    const std::string rotated = folder.file("08-12-2026.log.1");
    log.write("before rotation");
    log.flush();
    ASSERT_EQ(std::rename(day.c_str(), rotated.c_str()), 0);
    // No explicit flush: the background batches notice the move by themselves. Lines written
    // before they do still land in the moved file; none is lost.
    int written = 0;
    while (written < 2000 && !FileSystem::fileExists(day)) {
        log.write("after rotation");
        ++written;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(FileSystem::fileExists(day));
    log.close();
    const std::string before = readBytes(rotated);
    const std::string after = readBytes(day);
    EXPECT_EQ(before.rfind("10:00:00 before rotation\r\n", 0), 0u);
    EXPECT_EQ(after.rfind("10:00:00 after rotation\r\n", 0), 0u);
    const std::string line = "10:00:00 after rotation\r\n";
    EXPECT_EQ((before.size() + after.size()) / line.size(), static_cast<size_t>(written) + 1);
}

TEST_F(SvcLogTest, MidnightStartsTheNextDaysFile) {
    now = localTime(2026, 12, 8, 23, 59, 59);
    log.write("late");
    now += 1;
    log.write("early");
    EXPECT_EQ(log.currentPath(), folder.file("09-12-2026.log"));
    EXPECT_EQ(logged("08-12-2026.log"), "23:59:59 late\r\n");
    EXPECT_EQ(logged("09-12-2026.log"), "00:00:00 early\r\n");
    // The night the clocks go forward still switches at midnight.
    now = localTime(2027, 3, 27, 23, 59, 59);
    log.write("saturday");
    now += 1;
    log.write("sunday");
    EXPECT_EQ(logged("27-03-2027.log"), "23:59:59 saturday\r\n");
    EXPECT_EQ(logged("28-03-2027.log"), "00:00:00 sunday\r\n");
}

TEST_F(SvcLogTest, DayFileIsReadableByTheServiceOnly) {
    now = localTime(2026, 12, 8, 10, 0, 0);
    log.write("private");
    log.flush();
    struct stat info {};
    ASSERT_EQ(stat(folder.file("08-12-2026.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(SvcLogInstance, OneLogPerProcess) {
    EXPECT_EQ(&SvcLog::instance(), &SvcLog::instance());
    EXPECT_FALSE(SvcLog::instance().enabled());
    EXPECT_EQ(SvcLog::instance().folder(), "");
}
