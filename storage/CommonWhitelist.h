#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "http/IOB.h"
#include "platform/AtomicFile.h"
#include "platform/AutoLock.h"
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
    // before it counts. On failure nothing of it is left, in memory or in the files.
    bool push(const HTTPParser::IOB& body, uint32_t maxHistory, const std::string& folder,
              uint32_t& newIndex);

    // The same in two steps, so that one save covers many pushes (one committer thread
    // calls both). applyPending applies a push in memory; pulls keep answering from the
    // last durable state until commitPending has made every pending push durable with one
    // save, or taken all of them back. Pulls are not held up by the save's disk writes.
    bool applyPending(const HTTPParser::IOB& body, uint32_t& newIndex);
    // With appendOnly, a commit appends the new history records to the history file and
    // syncs that one file; the key file is rewritten (with the history, trimmed) only when
    // the appended records reach the larger of maxHistory and kAppendLimit, and by save().
    // A load applies the history to the older keys, so nothing is lost meanwhile.
    bool commitPending(const std::string& folder, uint32_t maxHistory, bool appendOnly = false);
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
    // Memory only; the files keep their content until the next save.
    void clear();
    // Number of history records.
    int32_t count();

    // folder ends with "/". Missing files are created empty; leftover temporary files
    // of interrupted saves are removed. Keys the history shows as changed after the key
    // file was written (a crash between the two renames of a save) are brought up to date.
    bool load(const std::string& folder);
    // Replaces both files crash-safely, the history file first, with the history as
    // trimmed to maxHistory (memory keeps its history; trim it after a success).
    // On failure both files keep their old content (should a folder sync fail after a
    // rename, the store writes its state of memory again).
    bool save(const std::string& folder, uint32_t maxHistory = UINT32_MAX);

    uint32_t historyBase();
    uint32_t end();
    size_t keyCount();
    bool containsKey(int64_t key);
    // Bytes the history array holds, for memory accounting.
    size_t historyMemoryBytes();

    // Ties the two files of one save together: the history file ends in 8 bytes and the
    // key file in 7 that carry the save's number, fewer than a whole record or key, so
    // that a reader of records and keys passes over them.
    static constexpr size_t kHistoryTrailerSize = 8;
    static constexpr size_t kKeysTrailerSize = 7;

  private:
    uint32_t endLocked() const REQUIRES(lock_);
    // Where pulls end: the end of the history, short of changes not yet durable.
    uint32_t servedEndLocked() const REQUIRES(lock_);
    // The key file and history file of a save with the given number, written but not synced.
    bool writeFilesLocked(AtomicFileWriter& keysFile, AtomicFileWriter& historyFile,
                          uint32_t maxHistory, uint64_t number) REQUIRES(lock_);
    static bool replaceFiles(AtomicFileWriter& keysFile, AtomicFileWriter& historyFile,
                             bool& savedOver);
    // The pending records and a new trailer over the history file's old trailer, synced.
    // On failure the file is cut back (else the next commit rewrites both files).
    bool appendPending(const std::string& folder, uint32_t maxHistory) REQUIRES(lock_);
    // Whether the history file on disk is the one the last save or load left, so that
    // records may be appended to it.
    void noteFilesWritten(uint64_t historyBytes) REQUIRES(lock_);
    bool applyLocked(const HTTPParser::IOB& body) REQUIRES(lock_);
    bool saveLocked(const std::string& folder, uint32_t maxHistory, bool& savedOver)
        REQUIRES(lock_);
    void undoSince(const Mark& mark) REQUIRES(lock_);
    void applyHistoryToKeys() REQUIRES(lock_);
    bool appendHistoryRecords(HTTPParser::IOB& body, size_t from, size_t to) const REQUIRES(lock_);
    bool appendSnapshot(HTTPParser::IOB& body) const REQUIRES(lock_);
    bool loadKeys(const std::string& path, uint64_t& saveNumber, bool& numbered) REQUIRES(lock_);
    bool loadHistory(const std::string& path, uint64_t& saveNumber, bool& numbered) REQUIRES(lock_);

    Storage::OrderedKeySet keys_ GUARDED_BY(lock_);
    Storage::WhitelistHistory history_ GUARDED_BY(lock_);
    uint32_t historyBase_ GUARDED_BY(lock_) = 0;
    uint64_t saveNumber_ GUARDED_BY(lock_) = 0;
    std::string folder_ GUARDED_BY(lock_);
    // Set from the first pending push until its commit: pulls then stop at durableMark_.
    bool pending_ GUARDED_BY(lock_) = false;
    Mark durableMark_ GUARDED_BY(lock_){0, 0};
    // Counts clears, so that a commit can tell its changes were dropped meanwhile.
    uint64_t generation_ GUARDED_BY(lock_) = 0;
    // The history file's size as last written, and how many records were appended to it
    // since the key file was; historyBytes_ 0 when unknown (the next commit rewrites both).
    uint64_t historyBytes_ GUARDED_BY(lock_) = 0;
    size_t appendedRecords_ GUARDED_BY(lock_) = 0;
    uint64_t writtenHistoryBytes_ GUARDED_BY(lock_) = 0;
    CriticalSection lock_;
};
