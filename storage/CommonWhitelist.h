#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "http/IOB.h"
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
    // Applies the 9-byte records of body in order; a trailing partial record is
    // ignored. A body without a whole record leaves newIndex untouched.
    bool postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex);
    // Only effective changes reach the history. False only when memory runs out,
    // in which case nothing changed.
    bool addKey(int64_t key);
    bool removeKey(int64_t key);
    void trimHistory(uint32_t maxSize);
    // Memory only; the files keep their content until the next save.
    void clear();
    // Number of history records.
    int32_t count();

    // folder ends with "/". Missing files are created empty.
    bool load(const std::string& folder);
    // Replaces both files crash-safely; on failure both keep their old content.
    bool save(const std::string& folder);

    uint32_t historyBase();
    uint32_t end();
    size_t keyCount();
    bool containsKey(int64_t key);
    // Bytes the history array holds, for memory accounting.
    size_t historyMemoryBytes();

  private:
    uint32_t endLocked() const;
    bool appendHistoryRecords(HTTPParser::IOB& body, size_t from) const;
    bool appendSnapshot(HTTPParser::IOB& body) const;
    bool loadKeys(const std::string& path);
    bool loadHistory(const std::string& path);

    Storage::OrderedKeySet keys_;
    Storage::WhitelistHistory history_;
    uint32_t historyBase_ = 0;
    CriticalSection lock_;
};
