#include "storage/WhitelistHistory.h"

#include <new>

namespace Storage {

void WhitelistHistory::dropDeadPrefix() {
    records_.erase(records_.begin(), records_.begin() + std::ptrdiff_t(start_));
    start_ = 0;
}

void WhitelistHistory::reserveForAppend() {
    if (records_.size() < records_.capacity())
        return;
    if (start_ > 0 && start_ >= size()) {
        dropDeadPrefix();
        return;
    }
    records_.reserve(records_.empty() ? 64 : records_.capacity() * 2);
}

size_t WhitelistHistory::trimTo(size_t maxSize) {
    const size_t live = size();
    if (live <= maxSize)
        return 0;
    const size_t dropped = live - maxSize;
    start_ += dropped;
    if (start_ == records_.size()) {
        records_.clear();
        start_ = 0;
    }
    // After a large cut (a lower limit, or the first trim of a big loaded
    // history) give the surplus memory back instead of keeping it forever.
    const size_t remaining = size();
    if (records_.capacity() > 4 * remaining + 4096) {
        try {
            std::vector<WhitelistChange> compact;
            compact.reserve(2 * remaining);
            compact.assign(records_.begin() + std::ptrdiff_t(start_), records_.end());
            records_.swap(compact);
            start_ = 0;
        } catch (const std::bad_alloc&) {
            // Keeping the larger array is harmless.
        }
    }
    return dropped;
}

void WhitelistHistory::clear() {
    std::vector<WhitelistChange>().swap(records_);
    start_ = 0;
}

void WhitelistHistory::assign(std::vector<WhitelistChange>&& records) {
    records_ = std::move(records);
    start_ = 0;
}

}  // namespace Storage
