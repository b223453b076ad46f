#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
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

    std::vector<std::string> files() const {
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
    EXPECT_EQ(readBytes(folder.file("08-12-2026.log")),
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
    EXPECT_EQ(readBytes(folder.file("08-12-2026.log")),
              "01:02:03 host=evil\\x0d\\x0a01:02:03 forged\\x7f\\x09\\x01 end\r\n");
}

TEST_F(SvcLogTest, LongMessagesGrowTheBuffer) {
    now = localTime(2026, 12, 8, 1, 2, 3);
    std::string text(5000, 'x');
    log.write("%s|", text.c_str());
    EXPECT_EQ(readBytes(folder.file("08-12-2026.log")), "01:02:03 " + text + "|\r\n");
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
    writeBytes(folder.file("07-12-2026.log"), "appears later the same day");
    log.write("second");
    EXPECT_EQ(files(), (std::vector<std::string>{"07-12-2026.log", "08-12-2026.log"}));

    // Deleting today's file makes the next line clean up and start it again.
    FileSystem::removeFile(folder.file("08-12-2026.log"));
    log.write("third");
    EXPECT_EQ(files(), (std::vector<std::string>{"08-12-2026.log"}));
    EXPECT_NE(readBytes(folder.file("08-12-2026.log")).find("third"), std::string::npos);
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
            for (int i = 0; i < 200; ++i)
                log.write("writer %d line %d %s", t, i, "payload");
        });
    }
    for (auto& writer : writers)
        writer.join();
    std::string bytes = readBytes(folder.file("25-03-2027.log"));
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
    EXPECT_EQ(lines, 800u);
}

TEST(SvcLogInstance, OneLogPerProcess) {
    EXPECT_EQ(&SvcLog::instance(), &SvcLog::instance());
    EXPECT_FALSE(SvcLog::instance().enabled());
    EXPECT_EQ(SvcLog::instance().folder(), "");
}
