#include "storage/DescriptorFile.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/FileOps.h"

namespace {

// Offsets travel as signed 32-bit numbers in the index file and the store's history.
constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();
constexpr size_t kStreamBuffer = 1 << 16;

void useLargeBuffer(Storage::FlatStorage& file) {
    if (file.stream() != nullptr)
        std::setvbuf(file.stream(), nullptr, _IOFBF, kStreamBuffer);
}

}  // namespace

using DescriptorRecord::ReadResult;

DescriptorFile::~DescriptorFile() {
    close();
}

bool DescriptorFile::open(const std::string& dataPath) {
    if (isOpen_)
        close();
    indexPath_ = dataPath + ".fm";
    index_.load(indexPath_);  // a missing index is rebuilt as records are read or added
    dataPath_ = dataPath;
    if (!openData())
        return false;
    isOpen_ = true;
    return true;
}

bool DescriptorFile::openData() {
    if (!data_.open(dataPath_))
        return false;
    useLargeBuffer(data_);
    position_ = -1;
    writing_ = false;
    size_ = data_.seek(0, SEEK_END) ? std::ftell(data_.stream()) : 0;
    if (size_ < 0)
        size_ = 0;
    return true;
}

bool DescriptorFile::close() {
    if (!isOpen_)
        return true;
    bool ok = sync();
    data_.close();
    isOpen_ = false;
    position_ = -1;
    return ok;
}

bool DescriptorFile::sync() {
    if (!isOpen_)
        return false;
    // Records first: the index may only name records that are on the disk.
    bool ok = data_.sync();
    if (!indexPath_.empty() && !index_.save(indexPath_))
        ok = false;
    return ok;
}

bool DescriptorFile::syncData() {
    return isOpen_ && data_.sync();
}

int DescriptorFile::flushForSync() {
    if (!isOpen_ || fileOps().flush(data_.stream()) != 0)
        return -1;
    return ::fcntl(fileno(data_.stream()), F_DUPFD_CLOEXEC, 0);
}

bool DescriptorFile::seekTo(int64_t offset, bool forWrite) {
    // Same direction and already there: stdio needs no repositioning.
    if (position_ == offset && writing_ == forWrite)
        return true;
    if (offset > kMaxOffset || !data_.seek(long(offset), SEEK_SET)) {
        position_ = -1;
        return false;
    }
    position_ = offset;
    writing_ = forWrite;
    return true;
}

bool DescriptorFile::readBytes(void* buffer, size_t size) {
    if (data_.read(buffer, size, 1) != 1) {
        position_ = -1;
        return false;
    }
    position_ += int64_t(size);
    return true;
}

ReadResult DescriptorFile::readRaw(MessageDescriptor& descriptor) {
    if (position_ < 0 || writing_) {
        descriptor.clear();
        return ReadResult::ioError;
    }
    ReadResult result = DescriptorRecord::read(data_, descriptor);
    if (result == ReadResult::ok) {
        position_ += descriptor.recordSize();
    } else {
        position_ = -1;
    }
    return result;
}

bool DescriptorFile::readIndexed(MessageDescriptor& descriptor) {
    if (currentOffset_ < 0 || int64_t(currentOffset_) != position_) {
        lastRead_ = position_ > kMaxOffset ? LastRead::beyondLimit : LastRead::ioError;
        descriptor.clear();
        return false;
    }
    switch (readRaw(descriptor)) {
        case ReadResult::ok:
            index_.set(descriptor.fingerprint, currentOffset_);
            lastRead_ = LastRead::ok;
            return true;
        case ReadResult::end:
            lastRead_ = LastRead::end;
            return false;
        case ReadResult::ioError:
            break;
    }
    lastRead_ = LastRead::ioError;
    return false;
}

bool DescriptorFile::readFirst(MessageDescriptor& descriptor) {
    currentOffset_ = 0;
    if (!isOpen_ || !seekTo(0, false)) {
        lastRead_ = LastRead::ioError;
        descriptor.clear();
        return false;
    }
    return readIndexed(descriptor);
}

bool DescriptorFile::readNext(MessageDescriptor& descriptor) {
    if (!isOpen_ || position_ < 0) {
        lastRead_ = LastRead::ioError;
        descriptor.clear();
        return false;
    }
    if (writing_ && !seekTo(position_, false)) {
        lastRead_ = LastRead::ioError;
        descriptor.clear();
        return false;
    }
    currentOffset_ = position_ > kMaxOffset ? -1 : int32_t(position_);
    return readIndexed(descriptor);
}

bool DescriptorFile::readAll(
    const std::function<void(uint32_t offset, const MessageDescriptor&)>& onRecord,
    int64_t* damagedAt) {
    if (damagedAt != nullptr)
        *damagedAt = -1;
    if (!isOpen_)
        return false;
    index_.clear();
    MessageDescriptor descriptor;
    for (bool ok = readFirst(descriptor); ok; ok = readNext(descriptor)) {
        onRecord(uint32_t(currentOffset_), descriptor);
    }
    if (lastRead_ != LastRead::end)
        return lastRead_ == LastRead::beyondLimit;
    if (currentOffset_ >= size_)
        return true;
    // Only a record that an append did not finish may go: it is the last one and runs
    // past the end. A record that cannot be read with more behind it is damage, and
    // the records behind it are somebody's data.
    uint8_t header[MessageDescriptor::kHeaderSize];
    const ssize_t got = ::pread(fileno(data_.stream()), header, sizeof header, currentOffset_);
    uint32_t label = 0, count = 0;
    int32_t status = 0;
    bool torn = got >= 0 && size_t(got) < sizeof header;
    if (!torn && got > 0 && DescriptorRecord::decodeHeader(header, label, status, count))
        torn = currentOffset_ + MessageDescriptor::kHeaderSize + 8 * int64_t(count) > size_;
    if (torn)
        return truncateTo(currentOffset_);
    if (damagedAt != nullptr)
        *damagedAt = currentOffset_;
    return true;
}

void DescriptorFile::beginChanges() {
    journaling_ = true;
    journalSize_ = size_;
    deferredHeads_.clear();
    journalIndex_.clear();
}

void DescriptorFile::commitChanges() {
    journaling_ = false;
    // Should a head not reach the disk, the old record stays current beside its successor;
    // a load resolves such a pair to the later record.
    for (const Head& head : deferredHeads_)
        rewriteHead(head.offset, head.label, head.status);
    if (!deferredHeads_.empty() && fileOps().flush(data_.stream()) != 0) {
        __fpurge(data_.stream());  // or every later flush would fail on them
        std::clearerr(data_.stream());
        position_ = -1;
    }
    deferredHeads_.clear();
    journalIndex_.clear();
}

void DescriptorFile::noteIndexChange(int64_t fingerprint) {
    if (!journaling_)
        return;
    const int32_t* old = index_.find(fingerprint);
    journalIndex_.push_back(IndexEntry{fingerprint, old != nullptr ? *old : -1});
}

bool DescriptorFile::rollbackChanges() {
    if (!journaling_)
        return true;
    journaling_ = false;
    deferredHeads_.clear();
    bool ok = isOpen_;
    if (ok && fileOps().flush(data_.stream()) != 0) {
        __fpurge(data_.stream());
        std::clearerr(data_.stream());
    }
    // Heads of older records were never written; those of appended records go with the
    // cut, which is made even when no append succeeded: a failed one may have left bytes.
    ok = ok && truncateTo(journalSize_);
    for (auto entry = journalIndex_.rbegin(); entry != journalIndex_.rend(); ++entry) {
        if (entry->offset < 0)
            index_.erase(entry->fingerprint);
        else
            index_.set(entry->fingerprint, entry->offset);
    }
    journalIndex_.clear();
    return ok;
}

uint64_t DescriptorFile::fileId() const {
    struct stat st;
    if (data_.stream() == nullptr || ::fstat(fileno(data_.stream()), &st) != 0)
        return 0;
    return uint64_t(st.st_ino);
}

bool DescriptorFile::truncateTo(int64_t length) {
    FILE* stream = data_.stream();
    if (stream == nullptr || fileOps().flush(stream) != 0)
        return false;
    position_ = -1;
    if (fileOps().truncate(fileno(stream), off_t(length)) != 0)
        return false;
    size_ = length;
    return fileOps().sync(fileno(stream)) == 0;
}

int32_t DescriptorFile::find(int64_t fingerprint, MessageDescriptor* descriptor) {
    const int32_t* offset = index_.find(fingerprint);
    if (offset == nullptr)
        return -1;
    if (descriptor != nullptr) {
        if (!seekTo(*offset, false))
            return -1;
        readRaw(*descriptor);  // an unreadable record simply matches nothing
    }
    return *offset;
}

bool DescriptorFile::recordMatches(uint32_t offset, const MessageDescriptor& descriptor) {
    uint8_t header[MessageDescriptor::kHeaderSize];
    uint32_t label = 0, count = 0;
    int32_t status = 0;
    const int fd = fileno(data_.stream());
    if (::pread(fd, header, sizeof header, offset) != ssize_t(sizeof header) ||
        !DescriptorRecord::decodeHeader(header, label, status, count) ||
        count != descriptor.values.size())
        return false;
    MessageDescriptor stored;
    stored.values.resize(count);
    const ssize_t bytes = ssize_t(8 * size_t(count));
    return (count == 0 || ::pread(fd, stored.values.data(), size_t(bytes),
                                  offset + MessageDescriptor::kHeaderSize) == bytes) &&
           stored.matches(descriptor);
}

bool DescriptorFile::rewriteHead(int32_t offset, uint32_t label, int32_t status) {
    uint8_t head[8];
    std::memcpy(head, &label, 4);
    std::memcpy(head + 4, &status, 4);
    if (!seekTo(offset, true))
        return false;
    if (data_.write(head, sizeof head, 1) != 1) {
        position_ = -1;
        return false;
    }
    position_ += sizeof head;
    return true;
}

int32_t DescriptorFile::append(const MessageDescriptor& descriptor) {
    const int64_t offset = size_;
    if (offset + descriptor.recordSize() > kMaxOffset)
        return -1;
    if (!seekTo(offset, true))
        return -1;
    // Flushed at once: a record that only reached the stream buffer would fail later (a
    // full disk), when it is already indexed and numbered and nobody can take it back.
    // Changes whose owner syncs or takes them back let their records wait for that sync.
    if (!DescriptorRecord::write(data_, descriptor) ||
        (!journaling_ && fileOps().flush(data_.stream()) != 0)) {
        // Leave no partial record behind: the next append starts at the old end again.
        // Bytes the disk refused are dropped, or every later flush would fail on them.
        __fpurge(data_.stream());
        std::clearerr(data_.stream());
        truncateTo(offset);
        return -1;
    }
    size_ = offset + descriptor.recordSize();
    position_ = size_;
    noteIndexChange(descriptor.fingerprint);
    index_.set(descriptor.fingerprint, int32_t(offset));
    return int32_t(offset);
}

bool DescriptorFile::changeHead(int32_t offset, uint32_t label, int32_t status) {
    if (journaling_ && offset < journalSize_) {
        deferredHeads_.push_back(Head{offset, label, status});
        return true;
    }
    return rewriteHead(offset, label, status);
}

bool DescriptorFile::add(const MessageDescriptor& descriptor, int64_t freshFrom) {
    if (!isOpen_ || descriptor.values.size() > MessageDescriptor::kMaxValues)
        return false;
    MessageDescriptor stored;
    int32_t offset = find(descriptor.fingerprint, &stored);
    if (offset >= 0 && !stored.matches(descriptor))
        offset = -1;  // same fingerprint only
    if (offset >= 0 && stored.label == descriptor.label && offset >= freshFrom) {
        if (stored.status == MessageDescriptor::kCurrent)
            return true;  // nothing to change
        return changeHead(offset, stored.label, MessageDescriptor::kCurrent);
    }
    if (offset >= 0 && stored.label == descriptor.label)
        return append(descriptor) >= 0;
    // The new record goes first: should marking the old one fail, the descriptor is
    // still stored, never left with only a superseded record.
    if (append(descriptor) < 0) {
        return false;
    }
    return offset < 0 || changeHead(offset, descriptor.label, MessageDescriptor::kSuperseded);
}

bool DescriptorFile::appendRecordsTo(const uint32_t* offsets, size_t count, HTTPParser::IOB& out) {
    if (count == 0)
        return true;
    // Pending appends must reach the file before it is read beside the stream.
    if (!isOpen_ || std::fflush(data_.stream()) != 0)
        return false;
    const int fd = fileno(data_.stream());
    const uint32_t start = out.length();

    // The file is read in large blocks straight into out. Behind the records kept so far
    // (up to kept) lie bytes not yet looked at (pending, from file offset pendingOffset
    // on, starting at scan); records to leave out are skipped or overwritten.
    uint32_t kept = start, scan = start, pending = 0;
    int64_t pendingOffset = offsets[0], readFrom = offsets[0];
    size_t next = 0;
    auto fail = [&] {
        out.setLength(start);
        return false;
    };
    while (next < count) {
        const int64_t room = int64_t(out.lengthLimit()) - 1 - out.length();
        const int64_t want = std::min<int64_t>({kReadBlock, size_ - readFrom, room});
        if (want <= 0)
            return fail();  // offsets beyond the data, or the answer is too large
        if (!out.append(nullptr, uint32_t(want), false))
            return fail();
        const ssize_t got = ::pread(fd, out.data() + scan + pending, size_t(want), readFrom);
        if (got <= 0)
            return fail();
        out.setLength(scan + pending + uint32_t(got));
        readFrom += got;
        pending += uint32_t(got);

        while (next < count && pending >= MessageDescriptor::kHeaderSize) {
            uint32_t label = 0, values = 0;
            int32_t status = 0;
            if (!DescriptorRecord::decodeHeader(out.data() + scan, label, status, values)) {
                return fail();
            }
            if (offsets[next] < pendingOffset)
                return fail();  // names the inside of a record
            const bool listed = offsets[next] == pendingOffset;
            const uint32_t size = MessageDescriptor::kHeaderSize + 8 * values;
            if (listed && status > 0) {
                if (size > pending)
                    break;  // the rest comes with the next block
                if (scan != kept)
                    std::memmove(out.data() + kept, out.data() + scan, size);
                kept += size;
            } else if (size > pending) {
                // Left out and not read in whole: continue reading behind it.
                readFrom = pendingOffset + size;
                pendingOffset = readFrom;
                pending = 0;
                scan = kept;
                next += listed ? 1 : 0;
                break;
            }
            next += listed ? 1 : 0;
            scan += size;
            pending -= size;
            pendingOffset += size;
        }
        if (scan != kept && pending > 0)
            std::memmove(out.data() + kept, out.data() + scan, pending);
        scan = kept;
        out.setLength(kept + pending);
    }
    out.setLength(kept);
    return true;
}
