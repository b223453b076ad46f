#include "tests/support/FileOpRecorder.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "tests/support/DescriptorPath.h"

namespace {

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

void FileOpRecorder::record(FileOp::Kind kind, uint64_t inode, std::string name, std::string to,
                            uint64_t offset, std::string bytes) {
    FileOp op;
    op.kind = kind;
    op.inode = inode;
    op.name = std::move(name);
    op.to = std::move(to);
    op.offset = offset;
    op.bytes = std::move(bytes);
    ops_.push_back(std::move(op));
}

std::string FileOp::describe() const {
    switch (kind) {
        case Kind::create:
            return "create " + name;
        case Kind::write:
            return "write " + std::to_string(bytes.size()) + " bytes at " + std::to_string(offset) +
                   " of inode " + std::to_string(inode);
        case Kind::truncate:
            return "truncate inode " + std::to_string(inode) + " to " + std::to_string(offset);
        case Kind::rename:
            return "rename " + name + " to " + to;
        case Kind::link:
            return "link " + name;
        case Kind::unlink:
            return "unlink " + name;
        case Kind::syncFile:
            return "sync inode " + std::to_string(inode);
        case Kind::syncFolder:
            return "sync folder";
    }
    return "?";
}

FileOpRecorder::FileOpRecorder(std::string folder, std::string vault)
    : folder_(std::move(folder)), vault_(std::move(vault)) {
    ::mkdir(vault_.c_str(), 0700);
    if (DIR* dir = ::opendir(folder_.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string path = folder_ + "/" + entry->d_name;
            struct stat st;
            if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            initialNames_[entry->d_name] = st.st_ino;
            initialContents_[st.st_ino] = readWhole(path);
            keepInVault(path, st.st_ino);
        }
        ::closedir(dir);
    }
    setFileOps(this);
}

FileOpRecorder::~FileOpRecorder() {
    setFileOps(nullptr);
}

std::string FileOpRecorder::nameIn(const std::string& path) const {
    if (path.size() <= folder_.size() + 1 || path.compare(0, folder_.size(), folder_) != 0 ||
        path[folder_.size()] != '/')
        return {};
    const std::string name = path.substr(folder_.size() + 1);
    return name.find('/') == std::string::npos ? name : std::string();
}

void FileOpRecorder::keepInVault(const std::string& path, uint64_t inode) {
    if (known_.count(inode) != 0)
        return;
    known_[inode] = true;
    ::link(path.c_str(), (vault_ + "/" + std::to_string(inode)).c_str());
}

void FileOpRecorder::noteCreated(const std::string& name, int fd) {
    struct stat st;
    if (name.empty() || ::fstat(fd, &st) != 0)
        return;
    keepInVault(folder_ + "/" + name, st.st_ino);
    record(FileOp::Kind::create, st.st_ino, name);
}

uint64_t FileOpRecorder::trackedInode(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    if (known_.count(st.st_ino) != 0)
        return st.st_ino;
    // Created past this layer: recorded now, with what it holds so far.
    const std::string path = descriptorPath(fd);
    const std::string name = nameIn(path);
    if (name.empty())
        return 0;
    noteCreated(name, fd);
    if (st.st_size > 0)
        record(FileOp::Kind::write, st.st_ino, {}, {}, 0, readWhole(path));
    return st.st_ino;
}

size_t FileOpRecorder::write(FILE* file, const void* data, size_t size, size_t count) {
    const uint64_t inode = trackedInode(fileno(file));
    const long offset = std::ftell(file);
    const size_t done = FileOps::write(file, data, size, count);
    if (inode != 0 && done > 0 && offset >= 0)
        record(FileOp::Kind::write, inode, {}, {}, uint64_t(offset),
               std::string(static_cast<const char*>(data), done * size));
    return done;
}

ssize_t FileOpRecorder::writeFd(int fd, const void* data, size_t size) {
    const uint64_t inode = trackedInode(fd);
    off_t offset = ::lseek(fd, 0, SEEK_CUR);
    struct stat st;
    if ((::fcntl(fd, F_GETFL) & O_APPEND) != 0 && ::fstat(fd, &st) == 0)
        offset = st.st_size;
    const ssize_t done = FileOps::writeFd(fd, data, size);
    if (inode != 0 && done > 0 && offset >= 0)
        record(FileOp::Kind::write, inode, {}, {}, uint64_t(offset),
               std::string(static_cast<const char*>(data), size_t(done)));
    return done;
}

int FileOpRecorder::sync(int fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        if (descriptorPath(fd) == folder_)
            record(FileOp::Kind::syncFolder, 0);
        return 0;
    }
    const uint64_t inode = trackedInode(fd);
    if (failNextSync_) {
        failNextSync_ = false;
        errno = EIO;
        return -1;
    }
    // Only the record needs the sync: no crash comes to the real files.
    if (inode != 0)
        record(FileOp::Kind::syncFile, inode);
    return 0;
}

int FileOpRecorder::truncate(int fd, off_t length) {
    const uint64_t inode = trackedInode(fd);
    const int result = FileOps::truncate(fd, length);
    if (result == 0 && inode != 0)
        record(FileOp::Kind::truncate, inode, {}, {}, uint64_t(length));
    return result;
}

int FileOpRecorder::rename(const char* from, const char* to) {
    const int result = FileOps::rename(from, to);
    const std::string fromName = nameIn(from), toName = nameIn(to);
    if (result == 0 && !fromName.empty() && !toName.empty())
        record(FileOp::Kind::rename, 0, fromName, toName);
    return result;
}

int FileOpRecorder::open(const char* path, int flags, mode_t mode) {
    struct stat before;
    const bool existed = ::stat(path, &before) == 0;
    const int fd = FileOps::open(path, flags, mode);
    const std::string name = nameIn(path);
    if (fd < 0 || name.empty())
        return fd;
    if (!existed) {
        noteCreated(name, fd);
    } else if ((flags & O_TRUNC) != 0 && before.st_size > 0) {
        if (const uint64_t inode = trackedInode(fd))
            record(FileOp::Kind::truncate, inode, {}, {}, 0);
    }
    return fd;
}

int FileOpRecorder::makeTemporary(char* pattern) {
    const int fd = FileOps::makeTemporary(pattern);
    if (fd >= 0)
        noteCreated(nameIn(pattern), fd);
    return fd;
}

int FileOpRecorder::unlink(const char* path) {
    const int result = FileOps::unlink(path);
    const std::string name = nameIn(path);
    if (result == 0 && !name.empty())
        record(FileOp::Kind::unlink, 0, name);
    return result;
}

int FileOpRecorder::link(const char* from, const char* to) {
    struct stat st;
    const bool found = ::stat(from, &st) == 0;
    const int result = FileOps::link(from, to);
    const std::string name = nameIn(to);
    if (result == 0 && found && !name.empty() && known_.count(st.st_ino) != 0)
        record(FileOp::Kind::link, st.st_ino, name);
    return result;
}
