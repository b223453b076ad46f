#include "apps/VantorSyncSvc/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr std::chrono::seconds kCheckInterval(1);
}

LogFile::LogFile(Hook beforeCreate) : beforeCreate_(std::move(beforeCreate)) {}

LogFile::~LogFile() {
    close();
}

void LogFile::append(const std::string& path, const std::string& bytes) {
    if (path != path_) {
        close();
        path_ = path;
    }
    pending_ += bytes;
}

size_t LogFile::pendingBytes() const {
    return pending_.size();
}

void LogFile::flush(bool forceCheck) {
    if (pending_.empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (fd_ >= 0 && (forceCheck || now - lastCheck_ >= kCheckInterval)) {
        lastCheck_ = now;
        if (movedAway())
            closeFile();
    }
    if (fd_ < 0)
        openFile();
    size_t done = 0;
    while (fd_ >= 0 && done < pending_.size()) {
        ssize_t written = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            // A full disk or a broken file: the batch is lost and the next one reopens.
            closeFile();
        }
    }
    pending_.clear();
}

void LogFile::close() {
    flush(true);
    closeFile();
}

bool LogFile::movedAway() const {
    struct stat open {};
    struct stat named {};
    if (::fstat(fd_, &open) != 0 || open.st_nlink == 0)
        return true;
    if (::stat(path_.c_str(), &named) != 0)
        return true;
    return named.st_dev != open.st_dev || named.st_ino != open.st_ino;
}

void LogFile::openFile() {
    if (path_.empty())
        return;
    struct stat existing {};
    if (::stat(path_.c_str(), &existing) != 0 && beforeCreate_)
        beforeCreate_();
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    lastCheck_ = std::chrono::steady_clock::now();
}

void LogFile::closeFile() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
