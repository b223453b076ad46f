#pragma once

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "platform/AutoLock.h"

// The service's daily log: one file per local calendar day, DD-MM-YYYY.log in the data
// folder, one line "HH:MM:SS text" + CR LF per write. The file is opened and closed around
// every line, so nothing is lost to buffering and other programs may move it between lines.
// When a day's file is first created, every ".log" file of the folder that is not named
// after one of the last lifetime days is deleted.
class SvcLog {
  public:
    using Clock = std::function<time_t()>;

    // The one log of the process.
    static SvcLog& instance();

    SvcLog();
    virtual ~SvcLog();

    SvcLog(const SvcLog&) = delete;
    SvcLog& operator=(const SvcLog&) = delete;

    // The folder ends in "/"; file names are appended to it directly.
    void setFolder(const std::string& folder);
    void setEnabled(bool enabled);
    void setLifetime(int days);
    // Where "now" comes from; the wall clock unless a test sets another.
    void setClock(Clock clock);

    bool enabled() const;
    int lifetime() const;
    std::string folder() const;
    // The day file of the last write.
    std::string currentPath() const;

    // Formats like printf and appends one line. Control bytes in the formatted text are
    // written as "\xNN", so one call always yields exactly one line.
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void writeV(const char* format, va_list arguments);

    // "DD-MM-YYYY.log" for the local date of t.
    static std::string fileNameFor(time_t t);

  private:
    std::string timeOfDay() const;
    FILE* openDayFile();
    void removeOldFiles();

    bool enabled_ = false;
    std::string currentPath_;
    std::string folder_;
    int lifetimeDays_ = 10;
    mutable CriticalSection lock_;
    Clock clock_;
};
