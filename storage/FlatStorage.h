#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace Storage {

// A buffered binary file that closes itself when destroyed.
class FlatStorage {
  public:
    FlatStorage() = default;
    virtual ~FlatStorage();

    FlatStorage(const FlatStorage&) = delete;
    FlatStorage& operator=(const FlatStorage&) = delete;

    // Whole items read or written; 0 when no file is open.
    virtual size_t read(void* buffer, size_t size, size_t count);
    virtual size_t write(const void* buffer, size_t size, size_t count);

    // With a mode ("wb", "r+b", ...) opens exactly so; without one opens an
    // existing file for reading and writing, or creates it. True when a file is
    // open afterwards; an already open file is kept as it is.
    bool open(const std::string& path, const char* mode = nullptr);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    bool seek(long offset, int origin);
    int32_t tell() const;
    // Flushes the stdio buffer and fsyncs the file.
    bool sync();
    FILE* stream() const { return file_; }

  private:
    FILE* file_ = nullptr;
};

}  // namespace Storage
