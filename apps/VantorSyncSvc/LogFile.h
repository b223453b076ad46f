#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

// Opening the day's file for every access line cost more than answering the request the line
// describes. This file stays open while lines gather in memory and are written in batches.
// Log rotation moves the file away under a running service, so now and then the path is
// compared with the open file and a moved or deleted file is let go for a new one.
// Not thread-safe: the owner serialises every call.
class LogFile {
  public:
    using Hook = std::function<void()>;

    // beforeCreate runs whenever a file is about to be created at a path where none exists.
    explicit LogFile(Hook beforeCreate);
    ~LogFile();

    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Queues bytes for the file at path; bytes pending for another path are written first.
    void append(const std::string& path, const std::string& bytes);
    size_t pendingBytes() const;

    // Writes what is pending. The path is checked against the open file when forced, and
    // otherwise at most once a second. Bytes that cannot be written are dropped: memory stays
    // bounded and the next batch tries a fresh open.
    void flush(bool forceCheck);
    // Writes what is pending and closes the file.
    void close();

  private:
    bool movedAway() const;
    void openFile();
    void closeFile();

    Hook beforeCreate_;
    std::string path_;
    std::string pending_;
    int fd_ = -1;
    std::chrono::steady_clock::time_point lastCheck_;
};
