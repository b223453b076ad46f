#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "http/IOB.h"
#include "platform/AutoLock.h"
#include "storage/DescriptorFile.h"
#include "storage/FilesFound.h"
#include "storage/TrainingDbOptions.h"

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
    // Stores the descriptors of body up to the first that does not parse, durably. False
    // when a descriptor could not be stored; nothing of the body is stored then.
    bool postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex);
    // A whole push as clients see it: stored, made durable and trimmed to maxSize
    // before it counts; on failure nothing of it is left in memory or in the files.
    // Compacts the data file afterwards when it holds too much. Runs as a group of its
    // own, after any group in flight, and holds the lock throughout.
    bool push(const HTTPParser::IOB& body, uint32_t maxSize, uint32_t& newIndex);
    // The same in two steps, so that one sync covers many pushes (one committer thread
    // calls both). applyPending stores a push; pulls keep answering from the last durable
    // state until commitPending has synced every pending push, trimmed and compacted, or
    // taken all of them back. The syncs, the options file and the compaction copy are
    // written without the store's lock. After a failed group that could not be cut from
    // the file, every push fails until the cut succeeds (tried at each group) or a load.
    bool applyPending(const HTTPParser::IOB& body, uint32_t& newIndex);
    // compactionSlack: how many fingerprints beyond maxSize the file may keep before the
    // records they need are dropped (a copy of the whole file).
    // trimSlack: how far the history may run past maxSize before it is trimmed back to it
    // (each trim syncs the options file).
    bool commitPending(uint32_t maxSize, uint32_t compactionSlack = 0, uint32_t trimSlack = 0);
    // Stores one parsed descriptor (status set by the caller) into the open group; false
    // when it could not be written.
    bool addDescriptor(const MessageDescriptor& descriptor);

    // False when the new start of the history could not be recorded; nothing changed then.
    bool trimHistory(uint32_t maxSize);
    // Empties the history after any commit in flight and records the emptied start
    // before it returns: true once the clear would survive a crash. On false memory is
    // cleared anyway, and the next commit records the start.
    bool clear();
    int32_t count();

    // The data file at a point where every record in it is durable and described by
    // start; nothing changes the bytes before dataLength, nor the options file, while
    // action runs (pushes wait, pulls go on).
    struct FilesAtRest {
        std::string dataPath;
        int64_t dataLength = 0;
        TrainingDbOptions start;  // with no compaction pending, whatever the file's inode
        uint32_t end = 0;
    };
    void holdFilesAtRest(const std::function<void(const FilesAtRest&)>& action);
    // Gives the oldest held entry the index base (the rest follow it), durably.
    bool renumberFrom(uint32_t base);

    // folder ends in "/". Rebuilds exactly the history served before the last stop or
    // crash. Leftover temporary files are removed; a data file with a damaged record
    // before its end is kept under a new name and only its readable part is loaded.
    // False when a file cannot be opened or read: the store must not be served then.
    bool load(const std::string& folder);
    // Whether the store files in folder are sound, read only: one line per problem found
    // (a file that cannot be read, a damaged or incomplete record, bytes past the last
    // acknowledged push, a history start beyond the records), none for sound files. A store
    // writing meanwhile may make it report a commit that is only under way. With found, the
    // line about bytes a load drops at the end goes there instead of into the lines.
    static std::vector<std::string> checkFiles(const std::string& folder,
                                               Storage::FilesFound* found = nullptr);
    // Closes the data file with its index and saves the numbering.
    bool flush();
    // Makes every accepted descriptor durable (data synced, index saved); reopens the
    // data file when it was closed. An acknowledged push is safe once this succeeded.
    bool reopen();

    // Export: from beginExport (which returns the durable index it stands at) until
    // endExport, commits wait, so that the records read in between are exactly the durable
    // state of that moment; pulls and the applying of pushes go on. exportDescriptors hands
    // each current descriptor, oldest first, to sink, reading a page at a time under the lock.
    uint32_t beginExport();
    bool exportDescriptors(const std::function<bool(const MessageDescriptor&)>& sink,
                           std::string& why);
    void endExport();

    uint32_t historyBase();
    uint32_t end();
    // Distinct descriptors in the record file's index.
    size_t descriptorCount();
    // Bytes held in memory for the index and the history.
    size_t memoryBytes();

    static constexpr const char* kDataFileName = "histdata.bin";
    static constexpr const char* kOptionsFileName = "histopt.bin";
    // Where the data file holds acknowledged pushes up to (see TrainingDbEnd).
    static constexpr const char* kEndFileName = "histdata.bin.end";

    // Data files above this size are compacted (see DescriptorFile).
    void setCompactionSize(int64_t bytes);

    // Indexes are unsigned 32-bit on the wire. Long before they run out, a commit or load
    // numbers the history from 0 again, as a clear does: clients ahead of the end then
    // receive every held record.
    static constexpr uint32_t kRenumberAt = 1u << 31;

  private:
    // What a commit decided with the lock, before its disk work without it.
    struct CommitPlan {
        uint64_t generation = 0;     // a clear meanwhile leaves memory without the group
        int syncFd = -1;             // the data file, to sync; -1 when the group is broken
        bool recordStart = false;    // the history's start moves (trim, renumber, clear)
        size_t drop = 0;             // history entries the trim drops
        TrainingDbOptions start;     // the start to record
        TrainingDbOptions previous;  // the start clients were told, put back on failure
        std::string optionsPath;
        bool recordEnd = false;     // the group moves the end of what is acknowledged
        TrainingDbEnd end;          // that end...
        TrainingDbEnd previousEnd;  // ...and the one recorded before, put back on failure
        std::string endPath;
        bool durable = false;  // records synced and the start recorded
    };

    // The steps of a commit, in order; committing_ is set from the first to the last.
    void beginCommitLocked(uint32_t maxSize, uint32_t trimSlack, CommitPlan& plan) REQUIRES(lock_);
    static void makeDurable(CommitPlan& plan);
    bool endCommitLocked(const CommitPlan& plan) REQUIRES(lock_);
    // The file side of a clear and the compaction, then the commit's end.
    void settleFiles(uint32_t maxCount, uint32_t compactionSlack, bool mayCompact) EXCLUDES(lock_);
    void compactOutsideLock(uint32_t maxCount) EXCLUDES(lock_);
    bool recordClearedStart() EXCLUDES(lock_);

    void openGroupLocked() REQUIRES(lock_);
    void waitForCommitsLocked() REQUIRES(lock_);
    bool applyLocked(const HTTPParser::IOB& body) REQUIRES(lock_);
    // The start of the history as the options file records it, firstEntry entries on.
    TrainingDbOptions startAt(uint32_t base, size_t firstEntry) const REQUIRES(lock_);
    bool saveOptions() REQUIRES(lock_);
    void setAsideDamagedFile(int64_t damagedAt) REQUIRES(lock_);
    // Cuts what the data file holds past the end recorded for it; false when it cannot.
    bool cutUnacknowledgedTail() REQUIRES(lock_);
    // Records the data file's end as it is now, synced with the records before it.
    bool recordEndLocked() REQUIRES(lock_);
    // A relabel whose old record a crash left current beside the new one: the old one
    // becomes what the relabel would have made it.
    void resolveDoubleCurrents(const std::vector<std::pair<uint32_t, uint32_t>>& superseded)
        REQUIRES(lock_);

    // The history entries pulls may see: all of them unless pushes are pending.
    size_t servedSizeLocked() const REQUIRES(lock_);

    std::string folder_ GUARDED_BY(lock_);
    DescriptorFile file_ GUARDED_BY(lock_);
    // From the first push of a group until its commit has decided it.
    bool groupOpen_ GUARDED_BY(lock_) = false;
    // From a commit's start until its file work (clear, compaction) has ended; the data file
    // changes only under it, and nothing else starts a commit or a group meanwhile.
    bool committing_ GUARDED_BY(lock_) = false;
    std::condition_variable_any commitEnded_;
    bool groupBroken_ GUARDED_BY(lock_) = false;
    // The history entries that were durable when the group began (or were cleared since).
    size_t durableSize_ GUARDED_BY(lock_) = 0;
    // The data file's length when the group began.
    int64_t groupStartSize_ GUARDED_BY(lock_) = 0;
    // After a failed group whose records could not be cut: the length to cut back to.
    int64_t cutBackTo_ GUARDED_BY(lock_) = -1;
    // Counts clears, so that a commit learns that memory no longer holds its group.
    uint64_t generation_ GUARDED_BY(lock_) = 0;
    // A clear emptied memory; the files follow when the commit in flight ends.
    bool clearDeferred_ GUARDED_BY(lock_) = false;
    // Records before this offset were put out of the clients' reach by a clear: posted
    // again they count as new.
    int64_t clearedAt_ GUARDED_BY(lock_) = 0;
    // Exports under way: no commit starts while one runs.
    int exportHolds_ GUARDED_BY(lock_) = 0;
    uint32_t exportEnd_ GUARDED_BY(lock_) = 0;
    std::vector<uint32_t> history_ GUARDED_BY(lock_);
    uint32_t historyBase_ GUARDED_BY(lock_) = 0;
    // The end the end file holds, as far as known.
    TrainingDbEnd recordedEnd_ GUARDED_BY(lock_);
    CriticalSection lock_;
};
