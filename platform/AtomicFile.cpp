#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/FileOps.h"
#include "platform/FileSystem.h"

namespace {

std::string parentFolder(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

}  // namespace

bool syncParentFolder(const std::string& path) {
    int fd = ::open(parentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fileOps().sync(fd) == 0;
    ::close(fd);
    return ok;
}

bool syncStream(FILE* file) {
    if (file == nullptr)
        return false;
    if (fileOps().flush(file) != 0)
        return false;
    return fileOps().sync(fileno(file)) == 0;
}

AtomicFileWriter::AtomicFileWriter(std::string targetPath, unsigned mode)
    : target_(std::move(targetPath)), mode_(mode) {}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::open() {
    if (file_ != nullptr)
        return true;
    std::string pattern = target_ + ".tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = fileOps().makeTemporary(name.data());
    if (fd < 0)
        return false;
    // mkstemp creates 0600; only files meant for other readers are opened up.
    if (mode_ != 0600)
        ::fchmod(fd, mode_);
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        ::close(fd);
        fileOps().unlink(name.data());
        return false;
    }
    tempPath_ = name.data();
    failed_ = false;
    synced_ = false;
    replaced_ = false;
    return true;
}

bool AtomicFileWriter::write(const void* data, size_t size) {
    if (file_ == nullptr || failed_)
        return false;
    if (size == 0)
        return true;
    if (fileOps().write(file_, data, 1, size) != size)
        failed_ = true;
    return !failed_;
}

bool AtomicFileWriter::syncTemporary() {
    if (file_ == nullptr || failed_)
        return false;
    if (!synced_ && !syncStream(file_))
        failed_ = true;
    synced_ = !failed_;
    return synced_;
}

bool AtomicFileWriter::commit() {
    if (file_ == nullptr || failed_) {
        discard();
        return false;
    }
    bool ok = syncTemporary();
    if (std::fclose(file_) != 0)
        ok = false;
    file_ = nullptr;
    if (!ok || fileOps().rename(tempPath_.c_str(), target_.c_str()) != 0) {
        fileOps().unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    tempPath_.clear();
    replaced_ = true;
    // Until the folder is synced the rename may vanish in a crash, so this is no success.
    return syncParentFolder(target_);
}

void AtomicFileWriter::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        fileOps().unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool replaceFileContents(const std::string& path, std::string_view content, unsigned mode) {
    AtomicFileWriter writer(path, mode);
    if (!writer.open())
        return false;
    if (!writer.write(content.data(), content.size()))
        return false;
    return writer.commit();
}

int removeLeftoverTemporaries(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string prefix =
        (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp";
    // mkstemp's six characters make the name; anything else is not ours to remove.
    int removed = 0;
    for (const std::string& name : FileSystem::listFolder(folder)) {
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            FileSystem::removeFile(folder + name))
            ++removed;
    }
    return removed;
}
