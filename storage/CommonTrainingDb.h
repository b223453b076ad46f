#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/IOB.h"
#include "platform/AutoLock.h"
#include "storage/DescriptorFile.h"

// The common training database: message descriptors that clients push, numbered in
// the order they were accepted so that each client can pull what it has not seen.
// Descriptors stay on disk; memory holds the fingerprint index and the history, the
// file offsets of the newest accepted records, oldest first.
class CommonTrainingDb {
  public:
    CommonTrainingDb() = default;
    virtual ~CommonTrainingDb() = default;

    CommonTrainingDb(const CommonTrainingDb&) = delete;
    CommonTrainingDb& operator=(const CommonTrainingDb&) = delete;

    // Whole records fill at most one page of a pull, so that a client can always make
    // progress and many clients pulling at once hold little memory each; the largest
    // record (80,012 bytes) fits a page many times over.
    static constexpr int64_t kPullPageBytes = 1 << 20;

    // Replaces body with the records accepted from startIndex on (from the oldest held
    // one when startIndex lies outside the history), as many whole records as fit one
    // page; newIndex is the index after the last record sent, where the client goes on.
    // False, with newIndex untouched, when a record cannot be read.
    bool getUpdates(uint32_t startIndex, HTTPParser::IOB& body, uint32_t& newIndex);
    // Stores the descriptors of body up to the first that does not parse. False when
    // a descriptor could not be written; nothing of the body is stored then.
    bool postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex);
    // A whole push as clients see it: stored, made durable and trimmed to maxSize
    // before it counts; on failure nothing of it is left in memory or in the files.
    // Compacts the data file afterwards when it holds too much.
    bool push(const HTTPParser::IOB& body, uint32_t maxSize, uint32_t& newIndex);
    // The same in two steps, so that one sync covers many pushes (one committer thread
    // calls both). applyPending stores a push; pulls keep answering from the last durable
    // state until commitPending has synced every pending push, trimmed and compacted, or
    // taken all of them back. The sync runs without the store's lock.
    bool applyPending(const HTTPParser::IOB& body, uint32_t& newIndex);
    // compactionSlack: how many fingerprints beyond maxSize the file may keep before the
    // records they need are dropped (a copy of the whole file).
    // trimSlack: how far the history may run past maxSize before it is trimmed back to it
    // (each trim syncs the options file).
    bool commitPending(uint32_t maxSize, uint32_t compactionSlack = 0, uint32_t trimSlack = 0);
    // Stores one parsed descriptor (status set by the caller); false when it could
    // not be written.
    bool addDescriptor(const MessageDescriptor& descriptor);

    // False when the new start of the history could not be recorded; nothing changed then.
    bool trimHistory(uint32_t maxSize);
    void clear();
    int32_t count();

    // folder ends in "/". Rebuilds exactly the history served before the last stop or
    // crash. Leftover temporary files are removed; a data file with a damaged record
    // before its end is kept under a new name and only its readable part is loaded.
    bool load(const std::string& folder);
    // Closes the data file with its index and saves the numbering.
    bool flush();
    // Makes every accepted descriptor durable (data synced, index saved); reopens the
    // data file when it was closed. An acknowledged push is safe once this succeeded.
    bool reopen();

    uint32_t historyBase();
    uint32_t end();
    // Distinct descriptors in the record file's index.
    size_t descriptorCount();
    // Bytes held in memory for the index and the history.
    size_t memoryBytes();

    static constexpr const char* kDataFileName = "histdata.bin";
    static constexpr const char* kOptionsFileName = "histopt.bin";

    // Data files above this size are compacted (see DescriptorFile).
    void setCompactionSize(int64_t bytes);

  private:
    bool applyLocked(const HTTPParser::IOB& body) REQUIRES(lock_);
    bool trimLocked(uint32_t maxSize) REQUIRES(lock_);
    void compactLocked(uint32_t maxCount) REQUIRES(lock_);
    // Where the history starts in the data file; its end when the history is empty.
    uint32_t firstOffset() const REQUIRES(lock_);
    bool saveOptions() REQUIRES(lock_);
    void setAsideDamagedFile(int64_t damagedAt) REQUIRES(lock_);

    // The history entries pulls may see: all of them unless pushes are pending.
    size_t servedSizeLocked() const REQUIRES(lock_);
    void clearLocked() REQUIRES(lock_);

    std::string folder_ GUARDED_BY(lock_);
    DescriptorFile file_ GUARDED_BY(lock_);
    // Set from the first pending push until its commit, which ends the file's changes.
    bool pending_ GUARDED_BY(lock_) = false;
    bool groupBroken_ GUARDED_BY(lock_) = false;
    size_t durableSize_ GUARDED_BY(lock_) = 0;
    // A clear while pushes are pending empties memory at once; the file side follows
    // when the commit has ended the file's changes.
    bool clearDeferred_ GUARDED_BY(lock_) = false;
    std::vector<uint32_t> history_ GUARDED_BY(lock_);
    uint32_t historyBase_ GUARDED_BY(lock_) = 0;
    CriticalSection lock_;
};
