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
    if (!planCompaction(maxCount, plan))
        return 0;
    if (!copyForCompaction(plan) || !placeCompaction(plan)) {
        abandonCompaction(plan);
        return 0;
    }
    finishCompaction(plan);
    return int32_t(plan.keepFrom);
}

bool DescriptorFile::planCompaction(uint32_t maxCount, Compaction& plan) {
    const size_t fingerprints = index_.size();
    const bool tooMany = fingerprints > maxCount;
    const bool tooLarge = size_ > compactionSize_;
    if (!isOpen_ || (!tooMany && !tooLarge) || size_ == 0)
        return false;
    // As many records as there are fingerprints too many go, whatever their status, and
    // then as many more as it takes to bring a large file down to three quarters of the
    // compaction size, which leaves room for many pushes before the next such copy.
    plan.skipRecords = std::max<size_t>(1, tooMany ? fingerprints - maxCount : 0);
    plan.keepAtMost = compactionSize_ / 4 * 3;
    plan.sourceEnd = size_;
    plan.dataPath = dataPath_;
    plan.newPath = dataPath_ + ".new";
    // Pending appends must reach the file before it is read beside the stream.
    if (fileOps().flush(data_.stream()) != 0)
        return false;
    position_ = -1;
    plan.sourceFd = ::fcntl(fileno(data_.stream()), F_DUPFD_CLOEXEC, 0);
    plan.copyFd =
        fileOps().open(plan.newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    struct stat st;
    if (plan.sourceFd < 0 || plan.copyFd < 0 || ::fstat(plan.copyFd, &st) != 0) {
        abandonCompaction(plan);
        return false;
    }
    plan.newFileId = uint64_t(st.st_ino);
    return true;
}

void DescriptorFile::abandonCompaction(Compaction& plan) {
    if (plan.copyFd >= 0)
        ::close(plan.copyFd);
    if (plan.sourceFd >= 0)
        ::close(plan.sourceFd);
    plan.copyFd = plan.sourceFd = -1;
    if (!plan.newPath.empty())
        fileOps().unlink(plan.newPath.c_str());
}

bool DescriptorFile::placeCompaction(const Compaction& plan) {
    if (fileOps().rename(plan.newPath.c_str(), plan.dataPath.c_str()) != 0)
        return false;
    // Should the folder sync fail, either file may be found after a crash; the owner
    // recorded which one its numbering belongs to, by the copy's inode.
    syncParentFolder(plan.dataPath);
    return true;
}

void DescriptorFile::finishCompaction(Compaction& plan) {
    ::close(plan.sourceFd);
    plan.sourceFd = -1;
    data_.close();
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
}

namespace {

// Where the records to keep start: after skip records, and after more while the rest is
// larger than keepAtMost; skipping stops at a record that cannot be read, as a load does.
// -1 on a read error.
int64_t findKeepFrom(int fd, int64_t end, size_t skip, int64_t keepAtMost) {
    int64_t at = 0;
    for (size_t skipped = 0; at < end && (skipped < skip || end - at > keepAtMost); ++skipped) {
        uint8_t header[MessageDescriptor::kHeaderSize];
        uint32_t label = 0, count = 0;
        int32_t status = 0;
        const ssize_t got = ::pread(fd, header, sizeof header, at);
        if (got < 0)
            return -1;
        if (got != ssize_t(sizeof header) ||
            !DescriptorRecord::decodeHeader(header, label, status, count))
            return at;
        const int64_t next = at + MessageDescriptor::kHeaderSize + 8 * int64_t(count);
        if (next > end)
            return at;
        at = next;
    }
    return at;
}

}  // namespace

bool DescriptorFile::copyForCompaction(Compaction& plan) {
    plan.keepFrom = findKeepFrom(plan.sourceFd, plan.sourceEnd, plan.skipRecords, plan.keepAtMost);
    const bool ok = plan.keepFrom >= 0 && copyRecords(plan);
    ::close(plan.copyFd);
    plan.copyFd = -1;
    return ok;
}

bool DescriptorFile::copyRecords(Compaction& plan) {
    const int in = plan.sourceFd, out = plan.copyFd;
    const int64_t from = plan.keepFrom;
    int64_t& keptEnd = plan.keptEnd;
    // Whole blocks move at once; only the record heads are looked at, to copy whole
    // records and stop at the first one that cannot be read, as a load would.
    constexpr size_t kBlock = size_t(kReadBlock);
    std::unique_ptr<uint8_t[]> block(new uint8_t[kBlock]);
    size_t carried = 0;
    int64_t readFrom = from;
    bool ok = true, damaged = false;
    keptEnd = from;
    while (ok && !damaged) {
        const size_t want =
            size_t(std::min<int64_t>(int64_t(kBlock - carried), plan.sourceEnd - readFrom));
        const ssize_t got = want == 0 ? 0 : ::pread(in, block.get() + carried, want, readFrom);
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
    return ok && fileOps().sync(out) == 0;
}
