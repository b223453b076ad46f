#include "storage/CommonTrainingDb.h"

#include <algorithm>

#include "storage/TrainingDbOptions.h"

size_t CommonTrainingDb::servedSizeLocked() const {
    return pending_ ? std::min(durableSize_, history_.size()) : history_.size();
}

bool CommonTrainingDb::getUpdates(uint32_t startIndex, HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock guard(lock_);
    const size_t served = servedSizeLocked();
    const uint32_t last = historyBase_ + uint32_t(served);
    size_t position = 0;
    if (startIndex > last || startIndex < historyBase_) {
        position = 0;  // trimmed away, or ahead after a clear: everything held
    } else if (startIndex == last) {
        newIndex = last;
        return true;
    } else {
        position = startIndex - historyBase_;
    }

    body.clear();
    size_t count = served - position;
    if (count > 0) {
        // History entries are consecutive records, so the offsets tell how many whole
        // records fit one page without reading any of them.
        const int64_t page = std::min<int64_t>(kPullPageBytes, int64_t(body.lengthLimit()) - 1);
        const int64_t first = history_[position];
        const int64_t servedEnd = served < history_.size() ? history_[served] : file_.dataSize();
        const auto servedBegin = history_.begin();
        if (servedEnd - first > page) {
            const auto from = servedBegin + std::ptrdiff_t(position);
            const auto beyond = std::upper_bound(from + 1, servedBegin + std::ptrdiff_t(served),
                                                 uint32_t(first + page));
            count = std::max<size_t>(1, size_t(beyond - from) - 1);
        }
        const int64_t span =
            (position + count < history_.size() ? int64_t(history_[position + count])
                                                : file_.dataSize()) -
            first;
        // Reserving the page once avoids regrowing a large answer record by record.
        if (span > 0 && span < int64_t(body.lengthLimit())) {
            body.setGrowthDoubling(false);
            if (body.append(nullptr, uint32_t(span), false))
                body.setLength(0);
        }
    }
    if (!file_.appendRecordsTo(history_.data() + position, count, body)) {
        body.clear();
        return false;
    }
    newIndex = historyBase_ + uint32_t(position + count);
    return true;
}

bool CommonTrainingDb::applyLocked(const HTTPParser::IOB& body) {
    MessageDescriptor descriptor;
    uint32_t cursor = 0;
    // The first record that does not parse ends the push; the rest of the body is ignored.
    while (descriptor.parse(body, cursor)) {
        descriptor.status = MessageDescriptor::kCurrent;
        if (!addDescriptor(descriptor))
            return false;
    }
    return true;
}

bool CommonTrainingDb::postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock guard(lock_);
    if (body.length() == 0)
        return true;
    const size_t before = history_.size();
    file_.beginChanges();
    const bool stored = applyLocked(body);
    if (!stored) {
        file_.rollbackChanges();
        history_.resize(before);
    }
    file_.endChanges();
    newIndex = historyBase_ + uint32_t(history_.size());
    return stored;
}

bool CommonTrainingDb::push(const HTTPParser::IOB& body, uint32_t maxSize, uint32_t& newIndex) {
    AutoLock guard(lock_);
    uint32_t index = newIndex;
    // A failed apply marks the group, whose commit then takes it back.
    const bool applied = applyPending(body, index);
    if (!commitPending(maxSize) || !applied)
        return false;
    newIndex = index;
    return true;
}

bool CommonTrainingDb::addDescriptor(const MessageDescriptor& descriptor) {
    AutoLock guard(lock_);
    // A record that only the history's emptying (a clear) put out of reach counts as a
    // change again when posted anew: as a new record, since the history holds exactly
    // the records from its start on.
    if (!file_.add(descriptor, history_.empty() ? file_.dataSize() : 0))
        return false;
    const int32_t offset = file_.find(descriptor.fingerprint, nullptr);
    // Only a newly appended record is a change; a repeat rewrote an older one in place.
    if (offset >= 0 && (history_.empty() || int32_t(history_.back()) < offset)) {
        history_.push_back(uint32_t(offset));
    }
    return true;
}

uint32_t CommonTrainingDb::firstOffset() const {
    return history_.empty() ? uint32_t(file_.dataSize()) : history_.front();
}

bool CommonTrainingDb::saveOptions() {
    if (folder_.empty())
        return false;
    TrainingDbOptions options;
    options.historyBase = historyBase_;
    options.firstOffset = firstOffset();
    return options.write(folder_ + kOptionsFileName);
}

bool CommonTrainingDb::trimLocked(uint32_t maxSize) {
    if (history_.size() <= maxSize)
        return true;
    const size_t excess = history_.size() - maxSize;
    // Recorded before memory changes: a crash must never move clients' indexes backwards.
    TrainingDbOptions options;
    options.historyBase = historyBase_ + uint32_t(excess);
    options.firstOffset = excess < history_.size() ? history_[excess] : uint32_t(file_.dataSize());
    if (folder_.empty())
        return false;
    if (!options.write(folder_ + kOptionsFileName)) {
        // The new file may be in place even so (its folder sync failed): the start on
        // disk must go back to the one clients were told.
        saveOptions();
        return false;
    }
    historyBase_ += uint32_t(excess);
    history_.erase(history_.begin(), history_.begin() + std::ptrdiff_t(excess));
    return true;
}

void CommonTrainingDb::compactLocked(uint32_t maxCount) {
    DescriptorFile::Compaction plan;
    if (folder_.empty() || !file_.prepareCompaction(maxCount, plan))
        return;
    // History entries of dropped records leave the history as if trimmed (only a size
    // compaction drops such records).
    const auto kept = std::lower_bound(history_.begin(), history_.end(), uint32_t(plan.keepFrom));
    const size_t dropped = size_t(kept - history_.begin());
    TrainingDbOptions options;
    options.historyBase = historyBase_ + uint32_t(dropped);
    options.firstOffset = kept != history_.end() ? *kept : uint32_t(file_.dataSize());
    // Which file the start belongs to is told by the copy's inode, so a crash on either
    // side of the rename finds the start that fits the file in place.
    options.pendingShift = uint32_t(plan.keepFrom);
    options.shiftedFileId = plan.newFileId;
    const bool recorded = options.write(folder_ + kOptionsFileName);
    // Dropping those entries is right whichever options file survives: the records are
    // still in the old file, and the indexes before the new base stay unused.
    historyBase_ += uint32_t(dropped);
    history_.erase(history_.begin(), kept);
    if (!recorded) {
        file_.abandonCompaction(plan);
        return;
    }
    if (!file_.finishCompaction(plan))
        return;
    for (uint32_t& offset : history_)
        offset -= uint32_t(plan.keepFrom);
}

bool CommonTrainingDb::trimHistory(uint32_t maxSize) {
    AutoLock guard(lock_);
    if (!trimLocked(maxSize))
        return false;
    compactLocked(maxSize);
    return true;
}

void CommonTrainingDb::clear() {
    AutoLock guard(lock_);
    history_.clear();
    historyBase_ = 0;
    if (pending_) {
        clearDeferred_ = true;
        return;
    }
    clearLocked();
}

void CommonTrainingDb::clearLocked() {
    history_.clear();
    historyBase_ = 0;
    saveOptions();
    compactLocked(0);
}

int32_t CommonTrainingDb::count() {
    AutoLock guard(lock_);
    return int32_t(history_.size());
}

bool CommonTrainingDb::flush() {
    AutoLock guard(lock_);
    bool ok = file_.close();
    return saveOptions() && ok;
}

bool CommonTrainingDb::reopen() {
    AutoLock guard(lock_);
    if (file_.isOpen())
        return file_.sync();
    if (folder_.empty())
        return false;
    return file_.open(folder_ + kDataFileName);
}

uint32_t CommonTrainingDb::historyBase() {
    AutoLock guard(lock_);
    return historyBase_;
}

uint32_t CommonTrainingDb::end() {
    AutoLock guard(lock_);
    return historyBase_ + uint32_t(history_.size());
}

size_t CommonTrainingDb::descriptorCount() {
    AutoLock guard(lock_);
    return file_.indexSize();
}

size_t CommonTrainingDb::memoryBytes() {
    AutoLock guard(lock_);
    return file_.indexMemoryBytes() + history_.capacity() * sizeof(uint32_t);
}

void CommonTrainingDb::setCompactionSize(int64_t bytes) {
    AutoLock guard(lock_);
    file_.setCompactionSize(bytes);
}
