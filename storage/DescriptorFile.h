#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "http/IOB.h"
#include "storage/FMap.h"
#include "storage/FlatStorage.h"
#include "storage/MessageDescriptor.h"

// The append-only record file of the training database ("histdata.bin") together
// with its index from fingerprint to the offset of the newest record carrying it,
// which is kept in the file named after the data file plus ".fm".
//
// Not locked: the owning store serialises every call.
class DescriptorFile {
  public:
    using Index = Storage::FMap<int64_t, int32_t>;

    DescriptorFile() = default;
    ~DescriptorFile();

    DescriptorFile(const DescriptorFile&) = delete;
    DescriptorFile& operator=(const DescriptorFile&) = delete;

    // Loads the index file (a missing or unreadable one leaves the index as it is)
    // and opens the data file, creating it when missing.
    bool open(const std::string& dataPath);
    // Makes the data durable, saves the index and closes the data file.
    // False when the data could not be synced or the index not saved.
    bool close();
    bool isOpen() const { return isOpen_; }
    // Flushes and fsyncs appended records and saves the index, keeping the file open.
    bool sync();
    // The records alone: what a load needs, since it rebuilds the index from them.
    bool syncData();
    // syncData in two halves, so that the owner can fsync without holding its lock: the
    // buffered records go to the system, and a duplicate of the data file's descriptor
    // (the caller syncs and closes it) stays valid whatever becomes of the file meanwhile.
    // -1 when the flush failed.
    int flushForSync();
    // The index file alone, for records already synced.
    bool saveIndex() { return isOpen_ && !indexPath_.empty() && index_.save(indexPath_); }

    // Sequential reading from the start; each record read becomes the index entry
    // of its fingerprint, so the last record of a fingerprint wins.
    bool readFirst(MessageDescriptor& descriptor);
    bool readNext(MessageDescriptor& descriptor);

    // Rebuilds the index from the records alone, reporting each record with its offset.
    // A last record that runs past the end of the file (torn by a crash during an
    // append) is cut off, so that later appends follow the last good record. Any other
    // record that cannot be read ends the reading and is left in place: damagedAt is
    // then its offset (else -1), and the caller decides what becomes of the file.
    // False on a read error of the file itself.
    bool readAll(const std::function<void(uint32_t offset, const MessageDescriptor&)>& onRecord,
                 int64_t* damagedAt = nullptr);
    // Keeps the whole file under asidePath (a second name, so no byte is lost) and
    // makes the data file hold only its first goodEnd bytes.
    bool setAside(int64_t goodEnd, const std::string& asidePath);

    // The changes of one group of pushes: from beginChanges on, appended records wait in the
    // stream buffer for the owner's sync (flushForSync), and a stored record that a push
    // supersedes keeps its head on the disk until the records that replace it are durable
    // (commitChanges then rewrites it), so that neither a pull nor a crash can see a
    // relabel whose new record may still go. rollbackChanges instead cuts the appended
    // records and restores the index; false when the cut could not be made durable, so
    // that the file may still hold them.
    void beginChanges();
    void commitChanges();
    bool rollbackChanges();
    // Makes the file end at length again (synced); false when it could not.
    bool cutBackTo(int64_t length) { return truncateTo(length); }
    // For a load that finds a relabel half done: whether the record at offset holds the
    // descriptor's values, and marking that record superseded by the new label.
    bool recordMatches(uint32_t offset, const MessageDescriptor& descriptor);
    bool markSuperseded(uint32_t offset, uint32_t label) {
        return rewriteHead(int32_t(offset), label, MessageDescriptor::kSuperseded);
    }

    // The offset of the newest record with this fingerprint, or -1; with a
    // descriptor given, that record is read into it.
    int32_t find(int64_t fingerprint, MessageDescriptor* descriptor);

    // Stores a descriptor whose status the caller has set: a repeat with the same
    // label only marks the stored record current again (unless that record lies before
    // freshFrom: then the descriptor is appended anew, the old record left as it is);
    // a repeat with another label marks the stored record superseded (carrying the new
    // label) and appends the descriptor as a new record; anything else is appended.
    bool add(const MessageDescriptor& descriptor, int64_t freshFrom = 0);

    // Appends the records at the given offsets (ascending) to out, leaving out those
    // whose status is 0 or below. False, with out as it was, when a record cannot be
    // read, an offset names no record, or out cannot take them all.
    bool appendRecordsTo(const uint32_t* offsets, size_t count, HTTPParser::IOB& out);

    // When the index holds more than maxCount fingerprints, drops as many records
    // from the start of the file as there are fingerprints too many; when the file is
    // larger than the compaction size, drops the oldest records until it holds at most
    // three quarters of it. Returns by how many bytes the kept records moved (0 when
    // nothing changed).
    int32_t compact(uint32_t maxCount);

    // The same in steps, so that the owner can do the copying without its lock and record
    // the move durably before it happens. With the owner's lock: plan (false when nothing
    // is due or the copy file cannot be made). Without it, on the plan alone: copy (the
    // kept records into the copy, synced) and then place (the copy renamed over the data
    // file, the folder synced); the data file must not change meanwhile. With the lock
    // again: exactly one of finish (reopen the renamed file, move the index) or abandon.
    struct Compaction {
        size_t skipRecords = 0;  // at least this many records go from the start...
        int64_t keepAtMost = 0;  // ...and more until at most this much is kept
        int64_t sourceEnd = 0;   // the data file's length when planned
        int sourceFd = -1;       // a duplicate of the data file's descriptor
        int copyFd = -1;
        int64_t keepFrom = 0;  // set by copy: where the kept records started
        int64_t keptEnd = 0;
        uint64_t newFileId = 0;  // the inode of the copy, which keeps it after the rename
        std::string newPath;
        std::string dataPath;
    };
    bool planCompaction(uint32_t maxCount, Compaction& plan);
    static bool copyForCompaction(Compaction& plan);
    static bool placeCompaction(const Compaction& plan);
    void finishCompaction(Compaction& plan);
    static void abandonCompaction(Compaction& plan);

    // Files above this size are compacted, long before 32-bit offsets run out.
    static constexpr int64_t kDefaultCompactionSize = int64_t(3) << 29;  // 1.5 GiB
    void setCompactionSize(int64_t bytes) { compactionSize_ = bytes; }
    bool exceedsCompactionSize() const { return size_ > compactionSize_; }
    // The inode of the open data file, 0 when unknown.
    uint64_t fileId() const;

    size_t indexSize() const { return index_.size(); }
    size_t indexMemoryBytes() const { return index_.memoryBytes(); }
    const Index& index() const { return index_; }
    int64_t dataSize() const { return size_; }
    int32_t currentOffset() const { return currentOffset_; }

  private:
    enum class LastRead { ok, end, ioError, beyondLimit };
    // Large enough for the largest record, so that copies and pulls always make progress.
    static constexpr int64_t kReadBlock = 1 << 20;

    bool openData();
    bool seekTo(int64_t offset, bool forWrite);
    DescriptorRecord::ReadResult readRaw(MessageDescriptor& descriptor);
    bool readIndexed(MessageDescriptor& descriptor);
    bool rewriteHead(int32_t offset, uint32_t label, int32_t status);
    void noteIndexChange(int64_t fingerprint);
    int32_t append(const MessageDescriptor& descriptor);
    bool truncateTo(int64_t length);
    bool readBytes(void* buffer, size_t size);
    // The head of a stored record that a push changes: written now when the record came
    // with the same group, else kept for commitChanges.
    bool changeHead(int32_t offset, uint32_t label, int32_t status);
    // The whole records from plan.keepFrom on into the copy, synced.
    static bool copyRecords(Compaction& plan);

    bool isOpen_ = false;
    int32_t currentOffset_ = 0;
    Index index_;
    std::string indexPath_;
    std::string dataPath_;
    Storage::FlatStorage data_;

    // Where the stream stands, so sequential access needs no seeks; -1 when unknown.
    int64_t position_ = -1;
    bool writing_ = false;
    int64_t size_ = 0;
    LastRead lastRead_ = LastRead::ok;
    int64_t compactionSize_ = kDefaultCompactionSize;

    struct Head {
        int32_t offset;
        uint32_t label;
        int32_t status;
    };
    struct IndexEntry {
        int64_t fingerprint;
        int32_t offset;  // -1: the fingerprint had no entry
    };
    bool journaling_ = false;
    int64_t journalSize_ = 0;
    std::vector<Head> deferredHeads_;
    std::vector<IndexEntry> journalIndex_;
};
