// Rewriting the descriptor data file as a whole: compaction, which drops the oldest
// records, and setting a damaged file aside while keeping its readable records.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "storage/DescriptorFile.h"

using DescriptorRecord::ReadResult;

bool DescriptorFile::setAside(int64_t goodEnd, const std::string& asidePath) {
    if (!isOpen_ || fileOps().flush(data_.stream()) != 0)
        return false;
    // A second name first: from then on the damaged file cannot be lost whatever follows.
    if (fileOps().link(dataPath_.c_str(), asidePath.c_str()) != 0 || !syncParentFolder(asidePath))
        return false;
    AtomicFileWriter good(dataPath_);
    if (!good.open())
        return false;
    const int fd = fileno(data_.stream());
    std::unique_ptr<uint8_t[]> block(new uint8_t[size_t(kReadBlock)]);
    for (int64_t at = 0; at < goodEnd;) {
        const ssize_t got =
            ::pread(fd, block.get(), size_t(std::min(kReadBlock, goodEnd - at)), at);
        if (got <= 0 || !good.write(block.get(), size_t(got)))
            return false;
        at += got;
    }
    if (!good.commit())
        return false;
    data_.close();
    return openData();
}

int32_t DescriptorFile::compact(uint32_t maxCount) {
    Compaction plan;
    if (!prepareCompaction(maxCount, plan))
        return 0;
    return finishCompaction(plan) ? int32_t(plan.keepFrom) : 0;
}

bool DescriptorFile::prepareCompaction(uint32_t maxCount, Compaction& plan) {
    const size_t fingerprints = index_.size();
    const bool tooMany = fingerprints > maxCount;
    const bool tooLarge = size_ > compactionSize_;
    if (!isOpen_ || (!tooMany && !tooLarge))
        return false;

    // As many records as there are fingerprints too many go, whatever their status, and
    // then as many more as it takes to bring a large file down to three quarters of the
    // compaction size, which leaves room for many pushes before the next such copy.
    const size_t byCount = tooMany ? fingerprints - maxCount : 0;
    const int64_t keepAtMost = compactionSize_ / 4 * 3;
    MessageDescriptor record;
    if (!seekTo(0, false) || readRaw(record) != ReadResult::ok)
        return false;
    int64_t keepFrom = position_;
    for (size_t skipped = 1; skipped < byCount || size_ - keepFrom > keepAtMost; ++skipped) {
        ReadResult result = readRaw(record);
        if (result == ReadResult::ioError)
            return false;
        if (result == ReadResult::end)
            break;
        keepFrom = position_;
    }

    // Pending appends must reach the file before it is read beside the stream.
    if (fileOps().flush(data_.stream()) != 0)
        return false;
    position_ = -1;
    plan.keepFrom = keepFrom;
    plan.newPath = dataPath_ + ".new";
    if (!copyRecords(keepFrom, plan.newPath, plan.keptEnd)) {
        fileOps().unlink(plan.newPath.c_str());
        return false;
    }
    struct stat st;
    if (::stat(plan.newPath.c_str(), &st) != 0) {
        fileOps().unlink(plan.newPath.c_str());
        return false;
    }
    plan.newFileId = uint64_t(st.st_ino);
    return true;
}

void DescriptorFile::abandonCompaction(const Compaction& plan) {
    fileOps().unlink(plan.newPath.c_str());
}

bool DescriptorFile::finishCompaction(const Compaction& plan) {
    data_.close();
    if (fileOps().rename(plan.newPath.c_str(), dataPath_.c_str()) != 0) {
        fileOps().unlink(plan.newPath.c_str());
        if (!openData())
            isOpen_ = false;
        return false;
    }
    // Should the folder sync fail, either file may be found after a crash; the owner
    // recorded which one its numbering belongs to, by the copy's inode.
    syncParentFolder(dataPath_);

    // The index named the newest record of every fingerprint, so the kept records'
    // entries are exactly those at or behind the first kept record, moved by the shift.
    Index shifted;
    shifted.reserve(index_.size());
    index_.forEach([&](int64_t fingerprint, int32_t offset) {
        if (offset >= plan.keepFrom && offset < plan.keptEnd)
            shifted.set(fingerprint, int32_t(offset - plan.keepFrom));
    });
    index_ = std::move(shifted);
    // The index file follows with the next sync or close; a load rebuilds it from the records.
    if (!openData())
        isOpen_ = false;
    return true;
}

bool DescriptorFile::copyRecords(int64_t from, const std::string& newPath, int64_t& keptEnd) {
    const int in = fileno(data_.stream());
    const int out = fileOps().open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0)
        return false;
    // Whole blocks move at once; only the record heads are looked at, to copy whole
    // records and stop at the first one that cannot be read, as a load would.
    constexpr size_t kBlock = size_t(kReadBlock);
    std::unique_ptr<uint8_t[]> block(new uint8_t[kBlock]);
    size_t carried = 0;
    int64_t readFrom = from;
    bool ok = true, damaged = false;
    keptEnd = from;
    while (ok && !damaged) {
        const ssize_t got = ::pread(in, block.get() + carried, kBlock - carried, readFrom);
        if (got < 0)
            ok = false;
        if (got <= 0)
            break;
        readFrom += got;
        const size_t available = carried + size_t(got);
        size_t whole = 0;
        while (whole + MessageDescriptor::kHeaderSize <= available) {
            uint32_t label = 0, count = 0;
            int32_t status = 0;
            if (!DescriptorRecord::decodeHeader(block.get() + whole, label, status, count)) {
                damaged = true;
                break;
            }
            const size_t size = MessageDescriptor::kHeaderSize + 8 * size_t(count);
            if (whole + size > available)
                break;
            whole += size;
        }
        for (size_t done = 0; ok && done < whole;) {
            const ssize_t put = fileOps().writeFd(out, block.get() + done, whole - done);
            if (put <= 0)
                ok = false;
            done += put > 0 ? size_t(put) : 0;
        }
        keptEnd += int64_t(whole);
        carried = available - whole;
        std::memmove(block.get(), block.get() + whole, carried);
    }
    // The copy must be on the disk before it replaces the only other copy of the records.
    if (ok && fileOps().sync(out) != 0)
        ok = false;
    if (::close(out) != 0)
        ok = false;
    return ok;
}
