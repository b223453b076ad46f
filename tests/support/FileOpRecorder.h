#pragma once

// Tests stand this in for the file layer to record, in order, every operation that shapes
// the files of one folder: creations, writes with their offset and bytes, truncates,
// renames, links, unlinks and the syncs of files and of the folder. Everything still
// happens on the real files; the record lets a test rebuild what a power loss at any
// moment could have left on the disk (see CrashStates.h).
//
// Files are named by inode, since renames move names between them. Every inode seen gets
// a second name in a vault folder on the same file system, so that no number is reused
// and rebuilt states can give each file the inode it had: the training database records
// its data file's inode in its options file.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/FileOps.h"

struct FileOp {
    enum class Kind { create, write, truncate, rename, link, unlink, syncFile, syncFolder };
    Kind kind = Kind::write;
    uint64_t inode = 0;   // create, write, truncate, link, syncFile
    std::string name;     // create, unlink, link (the new name), rename (from)
    std::string to;       // rename
    uint64_t offset = 0;  // write; truncate: the new length
    std::string bytes;    // write

    bool changesData() const { return kind == Kind::write || kind == Kind::truncate; }
    bool changesNames() const {
        return kind == Kind::create || kind == Kind::rename || kind == Kind::link ||
               kind == Kind::unlink;
    }
    std::string describe() const;
};

class FileOpRecorder : public FileOps {
  public:
    // folder and vault without a final "/", on one file system. Files already in folder
    // count as durable. Installs itself as the file layer until destroyed.
    FileOpRecorder(std::string folder, std::string vault);
    ~FileOpRecorder() override;
    FileOpRecorder(const FileOpRecorder&) = delete;
    FileOpRecorder& operator=(const FileOpRecorder&) = delete;

    const std::vector<FileOp>& ops() const { return ops_; }
    const std::map<std::string, uint64_t>& initialNames() const { return initialNames_; }
    const std::map<uint64_t, std::string>& initialContents() const { return initialContents_; }
    const std::string& vault() const { return vault_; }
    // The next sync of a file fails, as a disk error would, and syncs nothing.
    void failNextFileSync() { failNextSync_ = true; }

    size_t write(FILE* file, const void* data, size_t size, size_t count) override;
    ssize_t writeFd(int fd, const void* data, size_t size) override;
    int sync(int fd) override;
    int truncate(int fd, off_t length) override;
    int rename(const char* from, const char* to) override;
    int open(const char* path, int flags, mode_t mode) override;
    int makeTemporary(char* pattern) override;
    int unlink(const char* path) override;
    int link(const char* from, const char* to) override;

  private:
    // The name inside folder, or "" for a path elsewhere.
    std::string nameIn(const std::string& path) const;
    // The inode of a descriptor of a file in folder, recording a file created behind the
    // layer's back; 0 for anything else.
    uint64_t trackedInode(int fd);
    void noteCreated(const std::string& name, int fd);
    void keepInVault(const std::string& path, uint64_t inode);
    void record(FileOp::Kind kind, uint64_t inode, std::string name = {}, std::string to = {},
                uint64_t offset = 0, std::string bytes = {});

    std::string folder_, vault_;
    std::vector<FileOp> ops_;
    std::map<std::string, uint64_t> initialNames_;
    std::map<uint64_t, std::string> initialContents_;
    std::map<uint64_t, bool> known_;
    bool failNextSync_ = false;
};
