#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

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
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool syncStream(FILE* file) {
    if (file == nullptr)
        return false;
    if (std::fflush(file) != 0)
        return false;
    return ::fsync(fileno(file)) == 0;
}

AtomicFileWriter::AtomicFileWriter(std::string targetPath) : target_(std::move(targetPath)) {}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::open() {
    if (file_ != nullptr)
        return true;
    std::string pattern = target_ + ".tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        return false;
    // mkstemp creates 0600; store files are ordinary data files of the service.
    ::fchmod(fd, 0644);
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        ::close(fd);
        ::unlink(name.data());
        return false;
    }
    tempPath_ = name.data();
    failed_ = false;
    return true;
}

bool AtomicFileWriter::write(const void* data, size_t size) {
    if (file_ == nullptr || failed_)
        return false;
    if (size == 0)
        return true;
    if (std::fwrite(data, 1, size, file_) != size)
        failed_ = true;
    return !failed_;
}

bool AtomicFileWriter::commit() {
    if (file_ == nullptr || failed_) {
        discard();
        return false;
    }
    bool ok = syncStream(file_);
    if (std::fclose(file_) != 0)
        ok = false;
    file_ = nullptr;
    if (!ok || std::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    tempPath_.clear();
    // The new content is in place; a failed folder sync only weakens durability.
    syncParentFolder(target_);
    return true;
}

void AtomicFileWriter::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool replaceFileContents(const std::string& path, std::string_view content) {
    AtomicFileWriter writer(path);
    if (!writer.open())
        return false;
    if (!writer.write(content.data(), content.size()))
        return false;
    return writer.commit();
}
