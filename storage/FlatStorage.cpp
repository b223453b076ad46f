#include "storage/FlatStorage.h"

#include <fcntl.h>
#include <unistd.h>

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
    if (mode != nullptr && mode[0] == 'r') {
        file_ = std::fopen(path.c_str(), mode);
        return file_ != nullptr;
    }
    if (mode == nullptr) {
        file_ = std::fopen(path.c_str(), "r+b");
        if (file_ != nullptr)
            return true;
        mode = "w+b";
    }
    // fopen would create the file 0666 less the umask; store files are the service's alone.
    int flags = O_CREAT | O_CLOEXEC | (mode[0] == 'a' ? O_APPEND : O_TRUNC);
    flags |= std::strchr(mode, '+') != nullptr ? O_RDWR : O_WRONLY;
    const int fd = fileOps().open(path.c_str(), flags, 0600);
    if (fd < 0)
        return false;
    file_ = ::fdopen(fd, mode);
    if (file_ == nullptr)
        ::close(fd);
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
