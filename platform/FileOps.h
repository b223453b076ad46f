#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

// Every open of a store file and every create, write, flush, fsync, truncate, rename, link
// and unlink that shapes the store files goes through this one layer, so that tests can make
// any of them fail, come up short or silently do nothing, and check that no such failure is
// reported as success, or record them all. Production code uses the pass-through default.
class FileOps {
  public:
    virtual ~FileOps() = default;

    // open(2): a descriptor, or -1 with errno set.
    virtual int open(const char* path, int flags, mode_t mode);

    // fwrite: whole items written.
    virtual size_t write(FILE* file, const void* data, size_t size, size_t count);
    // write(2) on a descriptor: bytes written, or -1.
    virtual ssize_t writeFd(int fd, const void* data, size_t size);
    // fflush: 0 or EOF.
    virtual int flush(FILE* file);
    // fsync(2) of a file or a folder: 0 or -1.
    virtual int sync(int fd);
    virtual int truncate(int fd, off_t length);
    virtual int rename(const char* from, const char* to);
    // mkstemp(3): a descriptor of the new file named after pattern, or -1.
    virtual int makeTemporary(char* pattern);
    virtual int unlink(const char* path);
    virtual int link(const char* from, const char* to);
};

// The layer in use; the pass-through one unless a test installed another.
FileOps& fileOps();
// Installs ops (not owned) for the whole process; nullptr restores the default.
void setFileOps(FileOps* ops);
