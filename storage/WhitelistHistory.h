#pragma once

#include <cstddef>
#include <vector>

#include "storage/WhitelistChange.h"

namespace Storage {

// The newest whitelist changes, oldest first, in one contiguous array so that a
// pull copies them in one go. Trimming only moves a start offset; the dead prefix
// is reclaimed when the array is full and at least as long as the live part, so
// each record is moved at most once per record trimmed.
class WhitelistHistory {
  public:
    size_t size() const { return records_.size() - start_; }
    bool empty() const { return size() == 0; }
    const WhitelistChange* data() const { return records_.data() + start_; }
    const WhitelistChange& operator[](size_t i) const { return records_[start_ + i]; }

    // Makes room so that the next append cannot fail. May throw std::bad_alloc.
    void reserveForAppend();
    // Call reserveForAppend first; then this never allocates.
    void append(WhitelistChange change) { records_.push_back(change); }
    // Drops the oldest records so that at most maxSize remain; returns how many went.
    size_t trimTo(size_t maxSize);
    void clear();
    // Drops the newest records so that size records remain (no more than size now).
    void cutTo(size_t size) { records_.resize(start_ + size); }
    void assign(std::vector<WhitelistChange>&& records);

    // Bytes held for records, dead and spare ones included.
    size_t memoryBytes() const { return records_.capacity() * sizeof(WhitelistChange); }

  private:
    void dropDeadPrefix();

    std::vector<WhitelistChange> records_;
    size_t start_ = 0;
};

}  // namespace Storage
