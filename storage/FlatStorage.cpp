#include "storage/FlatStorage.h"

#include "platform/AtomicFile.h"

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
    return std::fwrite(buffer, size, count, file_);
}

bool FlatStorage::open(const std::string& path, const char* mode) {
    if (file_ != nullptr)
        return true;
    if (mode != nullptr) {
        file_ = std::fopen(path.c_str(), mode);
    } else {
        file_ = std::fopen(path.c_str(), "r+b");
        if (file_ == nullptr)
            file_ = std::fopen(path.c_str(), "w+b");
    }
    return file_ != nullptr;
}

void FlatStorage::close() {
    if (file_ != nullptr) {
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
