#include "storage/FlatStorage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/FileOps.h"

namespace Storage {

FlatStorage::~FlatStorage() {
    close();
}

size_t FlatStorage::read(void* buffer, size_t size, size_t count) {
    if (file_ == nullptr || size == 0)
        return 0;
    return std::fread(buffer, size, count, file_);
}

size_t FlatStorage::write(const void* buffer, size_t size, size_t count) {
    if (file_ == nullptr || size == 0)
        return 0;
    return fileOps().write(file_, buffer, size, count);
}

bool FlatStorage::open(const std::string& path, const char* mode) {
    if (file_ != nullptr)
        return true;
    const char* streamMode = mode != nullptr ? mode : "r+b";
    int fd;
    if (mode == nullptr) {
        // Only a file that is not there is created: one that exists but cannot be opened
        // (no permission, a failing disk) must fail the caller, never be emptied.
        fd = fileOps().open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0 && errno == ENOENT) {
            fd = fileOps().open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0 && errno == EEXIST)  // created meanwhile by someone else
                fd = fileOps().open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
        }
    } else {
        int flags = O_CLOEXEC | (std::strchr(mode, '+') != nullptr ? O_RDWR : 0);
        if (mode[0] != 'r') {
            // fopen would create the file 0666 less the umask; store files are the
            // service's alone.
            flags |= O_CREAT | (mode[0] == 'a' ? O_APPEND : O_TRUNC);
            if ((flags & O_RDWR) == 0)
                flags |= O_WRONLY;
        }
        fd = fileOps().open(path.c_str(), flags, 0600);
    }
    if (fd < 0)
        return false;
    file_ = ::fdopen(fd, streamMode);
    if (file_ == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file_ != nullptr;
}

void FlatStorage::close() {
    if (file_ != nullptr) {
        fileOps().flush(file_);
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool FlatStorage::seek(long offset, int origin) {
    return file_ != nullptr && std::fseek(file_, offset, origin) == 0;
}

int32_t FlatStorage::tell() const {
    if (file_ == nullptr)
        return 0;
    return static_cast<int32_t>(std::ftell(file_));
}

bool FlatStorage::sync() {
    return syncStream(file_);
}

}  // namespace Storage
