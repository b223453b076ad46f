#pragma once

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "apps/VantorSyncSvc/DelayedTask.h"
#include "apps/VantorSyncSvc/LogFile.h"
#include "platform/AutoLock.h"

// The service's daily log: one file per local calendar day, DD-MM-YYYY.log in the data
// folder, one line "HH:MM:SS text" + CR LF per write. A line is written once per request,
// so the day's file stays open and lines reach it in batches: when enough have gathered,
// and otherwise a fraction of a second after the first of a batch, so a line is never held
// back longer than that and nothing is lost on a clean stop. A file moved away (log
// rotation) or deleted is noticed within about a second and the path opened afresh.
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

    // Writes the lines held in memory now, checking first that the path still names the
    // open file.
    void flush();
    // Writes the lines held in memory and closes the file; the next line opens it again.
    void close();

    // "DD-MM-YYYY.log" for the local date of t.
    static std::string fileNameFor(time_t t);

  private:
    std::string timeOfDay() const REQUIRES(lock_);
    void removeOldFiles() REQUIRES(lock_);
    void flushBatch();

    bool enabled_ GUARDED_BY(lock_) = false;
    std::string currentPath_ GUARDED_BY(lock_);
    std::string folder_ GUARDED_BY(lock_);
    int lifetimeDays_ GUARDED_BY(lock_) = 10;
    mutable CriticalSection lock_;
    Clock clock_ GUARDED_BY(lock_);
    LogFile file_ GUARDED_BY(lock_);
    // Declared last: its thread calls into the members above.
    DelayedTask batchFlusher_;
};
