#include "storage/CommonTrainingDb.h"

#include <algorithm>

size_t CommonTrainingDb::servedSizeLocked() const {
    return groupOpen_ ? std::min(durableSize_, history_.size()) : history_.size();
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
    return push(body, UINT32_MAX, newIndex);
}

bool CommonTrainingDb::push(const HTTPParser::IOB& body, uint32_t maxSize, uint32_t& newIndex) {
    AutoLock guard(lock_);
    // A group of its own: joining one in flight would tie this push to its commit.
    waitForCommitsLocked();
    uint32_t index = newIndex;
    // A failed apply marks the group, whose commit then takes it back.
    const bool applied = applyPending(body, index);
    if (!commitPending(maxSize) || !applied)
        return false;
    newIndex = index;
    return true;
}

void CommonTrainingDb::waitForCommitsLocked() {
    while (groupOpen_ || committing_)
        commitEnded_.wait(lock_);
}

bool CommonTrainingDb::addDescriptor(const MessageDescriptor& descriptor) {
    AutoLock guard(lock_);
    if (historyBase_ + uint32_t(history_.size()) == UINT32_MAX)
        return false;  // no index left to tell (renumbering keeps this far away)
    // A record that a clear put out of reach counts as a change again when posted anew:
    // as a new record, since the history holds exactly the records from its start on.
    const int64_t freshFrom = history_.empty() ? file_.dataSize() : clearedAt_;
    if (!file_.add(descriptor, freshFrom))
        return false;
    const int32_t offset = file_.find(descriptor.fingerprint, nullptr);
    // Only a newly appended record is a change; a repeat rewrote an older one in place.
    if (offset >= 0 && (history_.empty() || int32_t(history_.back()) < offset)) {
        history_.push_back(uint32_t(offset));
    }
    return true;
}

TrainingDbOptions CommonTrainingDb::startAt(uint32_t base, size_t firstEntry) const {
    TrainingDbOptions options;
    options.historyBase = base;
    options.firstOffset =
        firstEntry < history_.size() ? history_[firstEntry] : uint32_t(file_.dataSize());
    return options;
}

bool CommonTrainingDb::saveOptions() {
    return !folder_.empty() && startAt(historyBase_, 0).write(folder_ + kOptionsFileName);
}

bool CommonTrainingDb::trimHistory(uint32_t maxSize) {
    AutoLock guard(lock_);
    waitForCommitsLocked();
    return commitPending(maxSize);
}

bool CommonTrainingDb::clear() {
    bool groupOpen = false;
    TrainingDbOptions start;
    std::string path;
    {
        AutoLock guard(lock_);
        // An acknowledged clear must survive a crash: its start is recorded here, after
        // the disk work of any commit in flight, and never left to a later commit.
        while (committing_)
            commitEnded_.wait(lock_);
        ++generation_;
        history_.clear();
        historyBase_ = 0;
        durableSize_ = 0;
        clearedAt_ = file_.dataSize();
        clearDeferred_ = true;
        committing_ = true;
        groupOpen = groupOpen_;
        start = startAt(0, 0);
        path = folder_.empty() ? std::string() : folder_ + kOptionsFileName;
    }
    if (!groupOpen) {
        settleFiles(0, 0, false);
        AutoLock guard(lock_);
        return !clearDeferred_;
    }
    // Records of the open group are not durable yet, so nothing may be compacted: the
    // emptied start is recorded now, and the group's commit compacts (clearDeferred_).
    const bool recorded = !path.empty() && start.write(path);
    AutoLock guard(lock_);
    committing_ = false;
    commitEnded_.notify_all();
    return recorded;
}

void CommonTrainingDb::holdFilesAtRest(const std::function<void(const FilesAtRest&)>& action) {
    FilesAtRest files;
    {
        AutoLock guard(lock_);
        waitForCommitsLocked();
        committing_ = true;  // no group, commit, clear or compaction until released
        files.dataPath = folder_ + kDataFileName;
        files.dataLength = cutBackTo_ >= 0 ? cutBackTo_ : file_.dataSize();
        files.start = startAt(historyBase_, 0);
        files.end = historyBase_ + uint32_t(history_.size());
    }
    action(files);
    AutoLock guard(lock_);
    committing_ = false;
    commitEnded_.notify_all();
}

bool CommonTrainingDb::renumberFrom(uint32_t base) {
    AutoLock guard(lock_);
    waitForCommitsLocked();
    const uint32_t before = historyBase_;
    historyBase_ = base;
    if (saveOptions())
        return true;
    historyBase_ = before;
    return false;
}

int32_t CommonTrainingDb::count() {
    AutoLock guard(lock_);
    return int32_t(history_.size());
}

bool CommonTrainingDb::flush() {
    AutoLock guard(lock_);
    waitForCommitsLocked();
    bool ok = file_.close();
    return saveOptions() && ok;
}

bool CommonTrainingDb::reopen() {
    AutoLock guard(lock_);
    waitForCommitsLocked();
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
