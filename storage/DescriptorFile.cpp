#include "storage/DescriptorFile.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/AtomicFile.h"

namespace {

// Offsets travel as signed 32-bit numbers in the index file and the store's history.
constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();
constexpr size_t kStreamBuffer = 1 << 16;
// Large enough for the largest record, so that copies and pulls always make progress.
constexpr int64_t kReadBlock = 1 << 20;

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
    const std::function<void(uint32_t offset, const MessageDescriptor&)>& onRecord) {
    if (!isOpen_)
        return false;
    index_.clear();
    MessageDescriptor descriptor;
    for (bool ok = readFirst(descriptor); ok; ok = readNext(descriptor)) {
        onRecord(uint32_t(currentOffset_), descriptor);
    }
    if (lastRead_ != LastRead::end)
        return lastRead_ == LastRead::beyondLimit;
    if (currentOffset_ < size_)
        return truncateTo(currentOffset_);
    return true;
}

bool DescriptorFile::truncateTo(int64_t length) {
    FILE* stream = data_.stream();
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    position_ = -1;
    if (::ftruncate(fileno(stream), off_t(length)) != 0)
        return false;
    size_ = length;
    return ::fsync(fileno(stream)) == 0;
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
    if (!DescriptorRecord::write(data_, descriptor) || std::fflush(data_.stream()) != 0) {
        // Leave no partial record behind: the next append starts at the old end again.
        // Bytes the disk refused are dropped, or every later flush would fail on them.
        __fpurge(data_.stream());
        std::clearerr(data_.stream());
        truncateTo(offset);
        return -1;
    }
    size_ = offset + descriptor.recordSize();
    position_ = size_;
    index_.set(descriptor.fingerprint, int32_t(offset));
    return int32_t(offset);
}

bool DescriptorFile::add(const MessageDescriptor& descriptor) {
    if (!isOpen_ || descriptor.values.size() > MessageDescriptor::kMaxValues)
        return false;
    MessageDescriptor stored;
    int32_t offset = find(descriptor.fingerprint, &stored);
    if (offset >= 0 && !stored.matches(descriptor))
        offset = -1;  // same fingerprint only
    if (offset >= 0 && stored.label == descriptor.label) {
        return rewriteHead(offset, stored.label, MessageDescriptor::kCurrent);
    }
    // The new record goes first: should marking the old one fail, the descriptor is
    // still stored, never left with only a superseded record.
    if (append(descriptor) < 0) {
        return false;
    }
    return offset < 0 || rewriteHead(offset, descriptor.label, MessageDescriptor::kSuperseded);
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

int32_t DescriptorFile::compact(uint32_t maxCount) {
    const size_t fingerprints = index_.size();
    if (!isOpen_ || fingerprints <= maxCount)
        return 0;

    // As many records as there are fingerprints too many go, whatever their status.
    MessageDescriptor record;
    if (!seekTo(0, false) || readRaw(record) != ReadResult::ok)
        return 0;
    int64_t keepFrom = position_;
    for (size_t skipped = 1; skipped < fingerprints - maxCount; ++skipped) {
        ReadResult result = readRaw(record);
        if (result == ReadResult::ioError)
            return 0;
        if (result == ReadResult::end)
            break;
        keepFrom = position_;
    }

    // Pending appends must reach the file before it is read beside the stream.
    if (std::fflush(data_.stream()) != 0)
        return 0;
    position_ = -1;
    const std::string newPath = dataPath_ + ".new";
    int64_t keptEnd = keepFrom;
    if (!copyRecords(keepFrom, newPath, keptEnd)) {
        ::unlink(newPath.c_str());
        return 0;
    }

    data_.close();
    if (std::rename(newPath.c_str(), dataPath_.c_str()) != 0) {
        ::unlink(newPath.c_str());
        if (!openData())
            isOpen_ = false;
        return 0;
    }
    syncParentFolder(dataPath_);

    // The index named the newest record of every fingerprint, so the kept records'
    // entries are exactly those at or behind the first kept record, moved by the shift.
    Index shifted;
    shifted.reserve(std::min<size_t>(fingerprints, maxCount));
    index_.forEach([&](int64_t fingerprint, int32_t offset) {
        if (offset >= keepFrom && offset < keptEnd)
            shifted.set(fingerprint, int32_t(offset - keepFrom));
    });
    index_ = std::move(shifted);
    // The index file follows with the next sync or close; a load rebuilds it from the records.
    if (!openData())
        isOpen_ = false;
    return int32_t(keepFrom);
}

bool DescriptorFile::copyRecords(int64_t from, const std::string& newPath, int64_t& keptEnd) {
    const int in = fileno(data_.stream());
    const int out = ::open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
            const ssize_t put = ::write(out, block.get() + done, whole - done);
            if (put <= 0)
                ok = false;
            done += put > 0 ? size_t(put) : 0;
        }
        keptEnd += int64_t(whole);
        carried = available - whole;
        std::memmove(block.get(), block.get() + whole, carried);
    }
    // The copy must be on the disk before it replaces the only other copy of the records.
    if (ok && ::fsync(out) != 0)
        ok = false;
    if (::close(out) != 0)
        ok = false;
    return ok;
}
