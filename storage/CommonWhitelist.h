#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/IOB.h"
#include "platform/AtomicFile.h"
#include "platform/AutoLock.h"
#include "storage/FilesFound.h"
#include "storage/HistoryEndRecord.h"
#include "storage/OrderedKeySet.h"
#include "storage/WhitelistChange.h"
#include "storage/WhitelistHistory.h"

// The common whitelist: the current set of keys plus the numbered history of the
// changes that built it. Change i of the history has the index historyBase + i;
// end() is the index the next change gets and what a client receives as its new
// position. Indexes are unsigned 32-bit and compared as such.
class CommonWhitelist {
  public:
    static constexpr const char* kKeysFileName = "whitelist.bin";
    static constexpr const char* kHistoryFileName = "whitelist_h.bin";
    // Where the history file last ended whole, recorded before each append over its
    // trailer (see HistoryEndRecord).
    static constexpr const char* kHistoryEndFileName = "whitelist_h.bin.end";

    CommonWhitelist() = default;
    virtual ~CommonWhitelist() = default;

    CommonWhitelist(const CommonWhitelist&) = delete;
    CommonWhitelist& operator=(const CommonWhitelist&) = delete;

    // Replaces body with the changes from startIndex on; a client whose position was
    // trimmed away gets the reset marker and every key instead. False (body empty)
    // when the answer does not fit body's length limit.
    bool getUpdates(uint32_t startIndex, HTTPParser::IOB& body, uint32_t& newIndex);
    // Applies the 9-byte records of body in order, in memory only; a trailing partial
    // record is ignored. A body without a whole record leaves newIndex untouched. On
    // failure nothing of the body stays applied.
    bool postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex);
    // A whole push as clients see it: applied, trimmed to maxHistory and saved to folder
    // before it counts (it counts once its records are synced into the history file, and
    // both files are then rewritten). On failure nothing of it is left, in memory or in
    // the files. Waits for the committer's group, if one is open.
    bool push(const HTTPParser::IOB& body, uint32_t maxHistory, const std::string& folder,
              uint32_t& newIndex);

    // The same in two steps, so that one save covers many pushes (one committer thread
    // calls both). applyPending applies a push in memory; pulls keep answering from the
    // last durable state until commitPending has made every pending push durable with one
    // save, or taken all of them back. Pulls are not held up by the save's disk writes.
    // A store whose files could not be brought back after a failed save refuses pushes
    // until a rewrite of both files (tried at each commit) or a load succeeds.
    bool applyPending(const HTTPParser::IOB& body, uint32_t& newIndex);
    // A commit appends the new history records to the history file and syncs that one
    // file; then, without appendOnly or once the appended records reach the larger of
    // maxHistory and kAppendLimit, the key file and after it the trimmed history are
    // replaced. A load applies the history to older keys, so nothing is lost meanwhile.
    bool commitPending(const std::string& folder, uint32_t maxHistory, bool appendOnly = false);
    // Between commits, once their answers are out: records where the history file ends
    // now, which the next append needs on the disk before it goes over the trailer, so
    // that the append's commit has one sync to wait for instead of two. A commit that
    // finds another end recorded records its own first: leaving this out costs time only.
    void recordEndAhead(const std::string& folder);
    static constexpr size_t kAppendLimit = 1 << 16;

    // Where the history ends now; changes made after it can be taken back with rollbackTo
    // as long as no trim or clear came in between.
    struct Mark {
        uint32_t base;
        size_t size;
    };
    Mark mark();
    void rollbackTo(const Mark& mark);
    // Only effective changes reach the history. False only when memory runs out,
    // in which case nothing changed.
    bool addKey(int64_t key);
    bool removeKey(int64_t key);
    void trimHistory(uint32_t maxSize);
    // Forgets every key and change, and writes the emptied store to folder before it
    // returns: true once the clear would survive a crash. On false memory is cleared
    // anyway, and the next commit writes the files.
    bool clear(const std::string& folder);
    // Number of history records.
    int32_t count();
    // Runs action under the lock while no commit writes: the files then hold exactly the
    // durable state. Appends that follow only write at and after the history file's
    // trailer, and every other write replaces a file under a new inode, so files opened
    // in action keep the bytes before that trailer for as long as they stay open.
    void withFilesAtRest(const std::function<void()>& action);
    // Gives the oldest held change the index base (the rest follow it) and rewrites both
    // files; a client behind base then gets a snapshot.
    bool renumberFrom(uint32_t base, const std::string& folder);

    // folder ends with "/". Missing files are created empty; leftover temporary files
    // of interrupted saves are removed. Keys the history shows as changed after the key
    // file was written are brought up to date, and a torn last group of appended records
    // is cut. False, with nothing changed on disk, when a file cannot be opened or read.
    bool load(const std::string& folder);
    // Replaces both files crash-safely with the history as trimmed to maxHistory (memory
    // keeps its history; trim it after a success). Waits for a commit in progress. At
    // every moment the files load to the state of the last commit or to this one.
    bool save(const std::string& folder, uint32_t maxHistory = UINT32_MAX);
    // Whether the store files in folder are sound, read only: one line per problem found
    // (a file that cannot be read, a torn append a load would cut, files that disagree),
    // none for sound files. A store writing meanwhile may make it report an append that is
    // only under way. With found, that append's line goes there instead of into the lines.
    static std::vector<std::string> checkFiles(const std::string& folder,
                                               Storage::FilesFound* found = nullptr);

    uint32_t historyBase();
    uint32_t end();
    // What pulls are answered from: two equal states answer a pull from before historyBase
    // with the same snapshot. The clear generation tells a store that was cleared and grew
    // back to the same indexes from the one before the clear.
    struct ServedState {
        uint64_t generation = 0;
        uint32_t historyBase = 0;
        uint32_t end = 0;
        bool operator==(const ServedState&) const = default;
    };
    ServedState servedState();
    size_t keyCount();
    bool containsKey(int64_t key);
    // Bytes the history array holds, for memory accounting.
    size_t historyMemoryBytes();

    // Export: the keys as they stood at one durable point, read in ascending chunks with
    // the lock held only while a chunk is copied, so that pushes and pulls go on meanwhile.
    // The changes made after the point are taken back chunk by chunk; a clear, or so many
    // changes that the point left the history, ends the export (why says so).
    struct ExportPoint {
        uint32_t index = 0;
        uint64_t generation = 0;
    };
    ExportPoint exportPoint();
    bool exportKeys(const ExportPoint& point,
                    const std::function<bool(const int64_t* keys, size_t count)>& sink,
                    std::string& why);
    static constexpr size_t kExportChunk = 8192;

    // Ties the two files of one save together: the history file ends in 8 bytes and the
    // key file in 7 that carry the save's number, fewer than a whole record or key, so
    // that a reader of records and keys passes over them. The history's trailer also
    // holds a checksum of every byte before it, so that a group of appended records that
    // did not reach the disk whole is told from one that did.
    static constexpr size_t kHistoryTrailerSize = 8;
    static constexpr size_t kKeysTrailerSize = 7;

  private:
    // A history file's length, the checksum of its bytes before the trailer and the index
    // its last record ends at; bytes 0 when the file on disk is not known to continue
    // memory's history.
    struct HistoryImage {
        uint64_t bytes = 0;
        uint32_t crc = 0;
        uint32_t end = 0;
        uint32_t number = 0;  // of the save whose trailer ends the file
    };
    // One commit's file work: planned under the lock, carried out without it, in steps
    // after each of which the files load to every change acknowledged so far.
    enum class Step { appendGroup, replaceKeys, replaceHistory };
    struct CommitPlan {
        std::string folder;
        uint32_t number = 0;
        uint64_t generation = 0;
        size_t records = 0;  // memory holds beyond the history file, appended first
        bool group = false;  // commits the pending group: ends it, and fails it as a whole
        std::vector<Step> steps;
        size_t needed = 0;  // steps done before the commit counts
        uint64_t offset = 0;
        std::string appended;                 // the group's records and trailer, written at offset
        Storage::HistoryEndRecord endBefore;  // where the file ends whole before the append
        bool endRecorded = false;             // the side file holds endBefore already
        HistoryImage historyBefore, afterAppend, written;
        std::unique_ptr<AtomicFileWriter> keysFile, historyFile;
    };
    struct CommitOutcome {
        size_t done = 0;
        bool touchedFiles = false;  // the failed step may have left part of itself on disk
        bool keysReplaced = false;
        HistoryImage historyEnd;
        bool endWriteTried = false, endWritten = false;
    };
    struct LoadedHistory {
        bool numbered = false;  // ends in a whole, matching trailer (possibly after a cut)
        bool cut = false;
        uint32_t number = 0;
        HistoryImage image;
    };

    uint32_t endLocked() const REQUIRES(lock_);
    // Where pulls end: the end of the history, short of changes not yet durable.
    uint32_t servedEndLocked() const REQUIRES(lock_);
    void openGroupLocked() REQUIRES(lock_);
    // Until no push of another caller is pending and no commit is writing.
    void awaitNoGroupLocked() REQUIRES(lock_);
    // The steps that make the group durable (and, when due or forced, rewrite both files),
    // with every byte they write prepared.
    CommitPlan planCommitLocked(const std::string& folder, uint32_t maxHistory, bool rewrite,
                                bool wholeRequired) REQUIRES(lock_);
    bool historyFileEndKnownLocked() const REQUIRES(lock_);
    static CommitOutcome carryOut(CommitPlan& plan);
    // Takes note of what reached the disk; false when the commit failed (its changes are
    // then undone, and unsound_ says whether the files still need repair).
    bool finishCommitLocked(const CommitPlan& plan, const CommitOutcome& outcome,
                            uint32_t maxHistory) REQUIRES(lock_);
    // Rewrites both files from memory, with the lock released around the disk work.
    bool rewriteAll(const std::string& folder, uint32_t maxHistory) REQUIRES(lock_);
    // The same over files that may hold changes memory does not; pushes are taken again
    // once it succeeded.
    bool repairFilesLocked(const std::string& folder) REQUIRES(lock_);
    bool writeKeysLocked(AtomicFileWriter& file, uint32_t number) REQUIRES(lock_);
    bool writeHistoryLocked(AtomicFileWriter& file, uint32_t maxHistory, uint32_t number,
                            HistoryImage& image) REQUIRES(lock_);
    std::string encodeGroupLocked(size_t from, uint32_t number, HistoryImage& image) const
        REQUIRES(lock_);
    bool applyLocked(const HTTPParser::IOB& body) REQUIRES(lock_);
    void undoSince(const Mark& mark) REQUIRES(lock_);
    void applyHistoryToKeys() REQUIRES(lock_);
    bool appendHistoryRecords(HTTPParser::IOB& body, size_t from, size_t to) const REQUIRES(lock_);
    bool appendSnapshot(HTTPParser::IOB& body) const REQUIRES(lock_);
    // The next chunk of an export above `after` (from the smallest key unless started);
    // true when it is the last one. upTo is the largest key the chunk covers.
    bool exportChunkLocked(const ExportPoint& point, bool started, int64_t after,
                           std::vector<int64_t>& chunk, int64_t& upTo) const REQUIRES(lock_);
    bool loadKeys(const std::string& path, uint32_t& saveNumber, bool& numbered) REQUIRES(lock_);
    bool loadHistory(const std::string& folder, LoadedHistory& loaded) REQUIRES(lock_);
    // Where the whole part of a history file's bytes ends: at its own trailer, else at the
    // last trailer left or the end recorded before the torn append, whichever is later.
    // tail: the 8 bytes after the records when the file ends exactly there, else null.
    static LoadedHistory findWholePart(const uint8_t* base, const uint8_t* records, size_t count,
                                       const uint8_t* tail, const std::string& folder);

    Storage::OrderedKeySet keys_ GUARDED_BY(lock_);
    Storage::WhitelistHistory history_ GUARDED_BY(lock_);
    uint32_t historyBase_ GUARDED_BY(lock_) = 0;
    uint32_t saveNumber_ GUARDED_BY(lock_) = 0;
    std::string folder_ GUARDED_BY(lock_);
    // Set from the first pending push until its commit: pulls then stop at durableMark_.
    bool pending_ GUARDED_BY(lock_) = false;
    Mark durableMark_ GUARDED_BY(lock_){0, 0};
    // Counts clears, so that a commit can tell its changes were dropped meanwhile.
    uint64_t generation_ GUARDED_BY(lock_) = 0;
    // The history file as last written, and how many records it holds beyond what a
    // rewrite trimmed to the maximum would keep.
    HistoryImage historyFile_ GUARDED_BY(lock_);
    size_t appendedRecords_ GUARDED_BY(lock_) = 0;
    // A commit's disk work is under way (its group stays pending until it ends).
    bool committing_ GUARDED_BY(lock_) = false;
    // The files may hold changes memory does not and could not be rewritten: no pushes.
    bool unsound_ GUARDED_BY(lock_) = false;
    // What the end record file holds, when this store wrote it since its load.
    Storage::HistoryEndRecord endRecorded_ GUARDED_BY(lock_);
    bool endRecordedKnown_ GUARDED_BY(lock_) = false;
    std::condition_variable_any groupEnded_;
    CriticalSection lock_;
};
