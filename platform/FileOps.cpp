#include "platform/FileOps.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

namespace {

FileOps defaultOps;
std::atomic<FileOps*> current{&defaultOps};

}  // namespace

int FileOps::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

size_t FileOps::write(FILE* file, const void* data, size_t size, size_t count) {
    return std::fwrite(data, size, count, file);
}

ssize_t FileOps::writeFd(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}

int FileOps::flush(FILE* file) {
    return std::fflush(file);
}

int FileOps::sync(int fd) {
    return ::fsync(fd);
}

int FileOps::truncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
}

int FileOps::rename(const char* from, const char* to) {
    return std::rename(from, to);
}

int FileOps::makeTemporary(char* pattern) {
    return ::mkstemp(pattern);
}

int FileOps::unlink(const char* path) {
    return ::unlink(path);
}

int FileOps::link(const char* from, const char* to) {
    return ::link(from, to);
}

FileOps& fileOps() {
    return *current.load(std::memory_order_acquire);
}

void setFileOps(FileOps* ops) {
    current.store(ops != nullptr ? ops : &defaultOps, std::memory_order_release);
}
