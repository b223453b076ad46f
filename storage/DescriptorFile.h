#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

    // Sequential reading from the start; each record read becomes the index entry
    // of its fingerprint, so the last record of a fingerprint wins.
    bool readFirst(MessageDescriptor& descriptor);
    bool readNext(MessageDescriptor& descriptor);

    // Rebuilds the index from the records alone, reporting each record with its offset.
    // Bytes behind the last readable record (a record torn by a crash during an append)
    // are cut off, so that later appends follow the last good record.
    // False on a read error of the file itself.
    bool readAll(const std::function<void(uint32_t offset, const MessageDescriptor&)>& onRecord);

    // The offset of the newest record with this fingerprint, or -1; with a
    // descriptor given, that record is read into it.
    int32_t find(int64_t fingerprint, MessageDescriptor* descriptor);

    // Stores a descriptor whose status the caller has set: a repeat with the same
    // label only marks the stored record current again; a repeat with another label
    // marks the stored record superseded (carrying the new label) and appends the
    // descriptor as a new record; anything else is appended.
    bool add(const MessageDescriptor& descriptor);

    // Appends the records at the given offsets (ascending) to out, leaving out those
    // whose status is 0 or below. False, with out as it was, when a record cannot be
    // read, an offset names no record, or out cannot take them all.
    bool appendRecordsTo(const uint32_t* offsets, size_t count, HTTPParser::IOB& out);

    // When the index holds more than maxCount fingerprints, drops as many records
    // from the start of the file as there are fingerprints too many. Returns by how
    // many bytes the kept records moved (0 when nothing changed).
    int32_t compact(uint32_t maxCount);

    size_t indexSize() const { return index_.size(); }
    size_t indexMemoryBytes() const { return index_.memoryBytes(); }
    const Index& index() const { return index_; }
    int64_t dataSize() const { return size_; }
    int32_t currentOffset() const { return currentOffset_; }

  private:
    enum class LastRead { ok, end, ioError, beyondLimit };

    bool openData();
    bool seekTo(int64_t offset, bool forWrite);
    DescriptorRecord::ReadResult readRaw(MessageDescriptor& descriptor);
    bool readIndexed(MessageDescriptor& descriptor);
    bool rewriteHead(int32_t offset, uint32_t label, int32_t status);
    int32_t append(const MessageDescriptor& descriptor);
    bool truncateTo(int64_t length);
    bool readBytes(void* buffer, size_t size);
    // Copies the whole records from offset from on into a new file and syncs it.
    bool copyRecords(int64_t from, const std::string& newPath, int64_t& keptEnd);

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
};
