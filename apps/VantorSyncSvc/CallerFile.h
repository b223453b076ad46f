#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// A file or pipe that a management caller passed over the bus. The service reads and
// writes it in bounded pieces and never waits on it for ever: an end that makes no
// progress for kStallSeconds fails the transfer, so a forgotten pipe cannot hold the
// management interface.
class CallerFile {
  public:
    static constexpr int kStallSeconds = 60;
    enum class Access { Read, Write };

    explicit CallerFile(int fd);

    // False, with why, when fd is not open for that access or names a folder.
    static bool check(int fd, Access access, std::string& why);
    // Whether two descriptors lead to the same file or pipe.
    static bool sameFile(int a, int b);

    bool writeAll(const char* data, size_t size, std::string& why);
    // Bytes read, 0 at the end of the input, -1 on failure (why says so).
    ssize_t readSome(char* buffer, size_t size, std::string& why);

  private:
    bool waitFor(short events, std::string& why);

    int fd_;
    // A regular file is never waited on; a pipe or socket is written a pipe's atomic
    // piece at a time after a poll, so that no write can block.
    bool regular_ = false;
};
