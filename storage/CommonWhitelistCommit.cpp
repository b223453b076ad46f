// Group commit of the common whitelist: pushes are applied in memory as they come and
// one save makes all of them durable. The save's disk writes run without the store's
// lock, so pulls go on meanwhile, answering from the last durable state. Most saves only
// append the group's records to the history file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/FileOps.h"
#include "storage/CommonWhitelist.h"

namespace {

bool writeAllAt(int fd, uint64_t offset, const uint8_t* data, size_t size) {
    if (::lseek(fd, off_t(offset), SEEK_SET) != off_t(offset))
        return false;
    while (size > 0) {
        const ssize_t written = fileOps().writeFd(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Puts bytes over the history file's trailer at offset and syncs. On failure the old
// trailer goes back and the file is cut to its old end; cutBack tells whether that held.
bool appendToHistory(const std::string& path, uint64_t offset, const std::string& bytes,
                     bool& cutBack) {
    cutBack = true;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t oldTrailer[CommonWhitelist::kHistoryTrailerSize];
    if (::pread(fd, oldTrailer, sizeof oldTrailer, off_t(offset)) != off_t(sizeof oldTrailer)) {
        ::close(fd);
        return false;
    }
    const bool ok =
        writeAllAt(fd, offset, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) &&
        fileOps().sync(fd) == 0;
    if (!ok) {
        cutBack = writeAllAt(fd, offset, oldTrailer, sizeof oldTrailer) &&
                  fileOps().truncate(fd, off_t(offset + sizeof oldTrailer)) == 0 &&
                  fileOps().sync(fd) == 0;
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool CommonWhitelist::applyPending(const HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock lock(lock_);
    if (!pending_) {
        pending_ = true;
        durableMark_ = mark();
    }
    const Mark before = mark();
    if (!applyLocked(body)) {
        undoSince(before);
        return false;
    }
    if (body.length() >= WhitelistChange::kSize)
        newIndex = endLocked();
    return true;
}

bool CommonWhitelist::commitPending(const std::string& folder, uint32_t maxHistory,
                                    bool appendOnly) {
    AtomicFileWriter keysFile(folder + kKeysFileName);
    AtomicFileWriter historyFile(folder + kHistoryFileName);
    uint64_t number, generation, offset = 0;
    size_t count = 0;
    std::string appended;
    bool append, ok = true;
    {
        // Writing fills the page cache only; the syncs come after the lock.
        AutoLock lock(lock_);
        if (!pending_) {
            pending_ = true;
            durableMark_ = mark();
        }
        number = saveNumber_ + 1;
        generation = generation_;
        const size_t from = std::min(durableMark_.size, history_.size());
        count = history_.size() - from;
        append = appendOnly && historyBytes_ >= 4 + kHistoryTrailerSize &&
                 appendedRecords_ + count <= std::max<size_t>(maxHistory, kAppendLimit);
        if (append) {
            offset = historyBytes_ - kHistoryTrailerSize;
            appended.resize(count * WhitelistChange::kSize + kHistoryTrailerSize);
            uint8_t* out = reinterpret_cast<uint8_t*>(appended.data());
            for (size_t i = from; i < history_.size(); ++i, out += WhitelistChange::kSize)
                history_[i].encode(out);
            for (size_t i = 0; i < kHistoryTrailerSize; ++i)
                out[i] = uint8_t(number >> (8 * i));
        } else {
            ok = writeFilesLocked(keysFile, historyFile, maxHistory, number);
        }
    }
    bool savedOver = false, cutBack = true;
    if (append)
        ok = appendToHistory(folder + kHistoryFileName, offset, appended, cutBack);
    else
        ok = ok && replaceFiles(keysFile, historyFile, savedOver);

    AutoLock lock(lock_);
    pending_ = false;
    if (ok)
        saveNumber_ = number;
    if (generation != generation_)
        return ok;  // cleared meanwhile: memory holds none of the saved changes any more
    if (ok && append) {
        historyBytes_ = offset + appended.size();
        appendedRecords_ += count;
    } else if (ok) {
        noteFilesWritten(writtenHistoryBytes_);
    } else if (!append || !cutBack) {
        historyBytes_ = 0;  // the files' end is uncertain: the next commit rewrites both
    }
    if (!ok) {
        undoSince(durableMark_);
        // A rename went through but may not last, or an append could not be cut back: the
        // files must not keep a change that clients are told failed.
        if (savedOver || !cutBack) {
            bool ignored = false;
            saveLocked(folder, UINT32_MAX, ignored);
        }
        return false;
    }
    historyBase_ += static_cast<uint32_t>(history_.trimTo(maxHistory));
    return true;
}
