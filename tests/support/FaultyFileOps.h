#pragma once

// Tests stand this in for the file layer to see every write, flush, sync, truncate and
// rename the stores make, in order and with the file each one touched, and to make any
// of them fail, come up short, do nothing, or end the process there like a crash.

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/FileOps.h"
#include "tests/support/DescriptorPath.h"

class FaultyFileOps : public FileOps {
  public:
    enum class Kind { write, flush, sync, truncate, rename };
    struct Event {
        Kind kind;
        std::string path;  // for a rename, the target
        bool failed;
    };

    FaultyFileOps() { setFileOps(this); }
    ~FaultyFileOps() override { setFileOps(nullptr); }
    FaultyFileOps(const FaultyFileOps&) = delete;
    FaultyFileOps& operator=(const FaultyFileOps&) = delete;

    // The nth operation of this kind (counted from 1) fails; 0 for none.
    void failAt(Kind kind, int n) {
        failKind_ = kind;
        failAt_ = n;
    }
    // Every operation of this kind from the nth on fails, as on a disk turned read-only;
    // 0 for none. Kinds add up.
    void failFrom(Kind kind, int n) { failFrom_[int(kind)] = n; }
    // The nth write writes half of what it was given.
    void shortWriteAt(int n) { shortWriteAt_ = n; }
    // Syncs report success without syncing: a store cannot tell, only the order log can.
    void dropSyncs(bool drop) { dropSyncs_ = drop; }
    // The nth open (counted from 1) fails with error. Opens are no crash points: a crash
    // there leaves what the operation before it left.
    void failOpenAt(int n, int error) {
        failOpenAt_ = n;
        openError_ = error;
    }
    // The nth operation of any kind ends the process before it happens, as a crash.
    void crashAt(int n) { crashAt_ = n; }

    int operations() const { return operations_; }
    const std::vector<Event>& events() const { return events_; }
    void clearEvents() { events_.clear(); }

    int open(const char* path, int flags, mode_t mode) override {
        if (++opens_ == failOpenAt_) {
            errno = openError_;
            return -1;
        }
        return FileOps::open(path, flags, mode);
    }
    size_t write(FILE* file, const void* data, size_t size, size_t count) override {
        const int n = begin(Kind::write, descriptorPath(fileno(file)));
        if (n == shortWriteAt_ && size * count > 1) {
            FileOps::write(file, data, 1, size * count / 2);
            events_.back().failed = true;
            return 0;
        }
        if (fails(Kind::write, n))
            return 0;
        return FileOps::write(file, data, size, count);
    }
    ssize_t writeFd(int fd, const void* data, size_t size) override {
        const int n = begin(Kind::write, descriptorPath(fd));
        if (n == shortWriteAt_ && size > 1) {
            FileOps::writeFd(fd, data, size / 2);
            events_.back().failed = true;
            errno = ENOSPC;
            return -1;
        }
        if (fails(Kind::write, n)) {
            errno = EIO;
            return -1;
        }
        return FileOps::writeFd(fd, data, size);
    }
    int flush(FILE* file) override {
        const int n = begin(Kind::flush, descriptorPath(fileno(file)));
        return fails(Kind::flush, n) ? EOF : FileOps::flush(file);
    }
    int sync(int fd) override {
        const int n = begin(Kind::sync, descriptorPath(fd));
        if (fails(Kind::sync, n))
            return -1;
        return dropSyncs_ ? 0 : FileOps::sync(fd);
    }
    int truncate(int fd, off_t length) override {
        const int n = begin(Kind::truncate, descriptorPath(fd));
        return fails(Kind::truncate, n) ? -1 : FileOps::truncate(fd, length);
    }
    int rename(const char* from, const char* to) override {
        const int n = begin(Kind::rename, to);
        events_.back().path = std::string(from) + " -> " + to;
        return fails(Kind::rename, n) ? -1 : FileOps::rename(from, to);
    }

  private:
    int begin(Kind kind, const std::string& path) {
        if (++operations_ == crashAt_)
            _exit(0);
        events_.push_back(Event{kind, path, false});
        return ++counts_[int(kind)];
    }
    bool fails(Kind kind, int n) {
        const int from = failFrom_[int(kind)];
        const bool failed = (kind == failKind_ && n == failAt_) || (from > 0 && n >= from);
        if (failed)
            events_.back().failed = true;
        return failed;
    }

    Kind failKind_ = Kind::write;
    int failAt_ = 0;
    int shortWriteAt_ = 0;
    bool dropSyncs_ = false;
    int crashAt_ = 0;
    int failOpenAt_ = 0;
    int openError_ = 0;
    int opens_ = 0;
    int operations_ = 0;
    int counts_[5] = {};
    int failFrom_[5] = {};
    std::vector<Event> events_;
};
