#include "apps/VantorSyncSvc/CallerFile.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

CallerFile::CallerFile(int fd) : fd_(fd) {
    struct stat status {};
    regular_ = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

bool CallerFile::check(int fd, Access access, std::string& why) {
    const int flags = ::fcntl(fd, F_GETFL);
    struct stat status {};
    if (flags < 0 || ::fstat(fd, &status) != 0) {
        why = "the passed file descriptor is not open";
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        why = "the passed file descriptor names a folder";
        return false;
    }
    const int mode = flags & O_ACCMODE;
    const bool fits = access == Access::Read ? mode == O_RDONLY || mode == O_RDWR
                                             : mode == O_WRONLY || mode == O_RDWR;
    if (!fits) {
        why = access == Access::Read ? "the passed file is not open for reading"
                                     : "the passed file is not open for writing";
        return false;
    }
    return true;
}

bool CallerFile::sameFile(int a, int b) {
    struct stat first {
    }, second{};
    return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool CallerFile::waitFor(short events, std::string& why) {
    struct pollfd entry {
        fd_, events, 0
    };
    for (;;) {
        const int ready = ::poll(&entry, 1, kStallSeconds * 1000);
        if (ready > 0)
            return true;
        if (ready == 0) {
            why = "the caller's file made no progress for " + std::to_string(kStallSeconds) + " s";
            return false;
        }
        if (errno != EINTR) {
            why = std::string("waiting for the caller's file failed: ") + std::strerror(errno);
            return false;
        }
    }
}

bool CallerFile::writeAll(const char* data, size_t size, std::string& why) {
    while (size > 0) {
        if (!regular_ && !waitFor(POLLOUT, why))
            return false;
        const size_t piece = regular_ ? size : std::min<size_t>(size, PIPE_BUF);
        const ssize_t written = ::write(fd_, data, piece);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            why = std::string("writing to the caller's file failed: ") + std::strerror(errno);
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

ssize_t CallerFile::readSome(char* buffer, size_t size, std::string& why) {
    for (;;) {
        if (!regular_ && !waitFor(POLLIN, why))
            return -1;
        const ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0)
            return got;
        if (errno != EINTR && errno != EAGAIN) {
            why = std::string("reading the caller's file failed: ") + std::strerror(errno);
            return -1;
        }
    }
}
