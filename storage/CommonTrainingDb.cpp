#include "storage/CommonTrainingDb.h"

#include <algorithm>

#include "platform/AtomicFile.h"
#include "storage/FlatStorage.h"

bool CommonTrainingDb::getUpdates(uint32_t startIndex, HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock guard(lock_);
    const uint32_t last = historyBase_ + uint32_t(history_.size());
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
    if (position < history_.size()) {
        // The records from the first one sent up to the end of the file bound the answer;
        // reserving that once avoids regrowing a large answer record by record.
        const int64_t bound = file_.dataSize() - int64_t(history_[position]);
        if (bound > 0 && bound < int64_t(body.lengthLimit())) {
            body.setGrowthDoubling(false);
            if (body.append(nullptr, uint32_t(bound), false))
                body.setLength(0);
        }
    }
    // Sending less while still advancing the client's index would lose records for it.
    if (!file_.appendRecordsTo(history_.data() + position, history_.size() - position, body)) {
        body.clear();
        return false;
    }
    newIndex = last;
    return true;
}

bool CommonTrainingDb::postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock guard(lock_);
    if (body.length() == 0)
        return true;
    MessageDescriptor descriptor;
    uint32_t cursor = 0;
    bool stored = true;
    // The first record that does not parse ends the push; the rest of the body is ignored.
    while (stored && descriptor.parse(body, cursor)) {
        descriptor.status = MessageDescriptor::kCurrent;
        stored = addDescriptor(descriptor);
    }
    newIndex = historyBase_ + uint32_t(history_.size());
    return stored;
}

bool CommonTrainingDb::addDescriptor(const MessageDescriptor& descriptor) {
    AutoLock guard(lock_);
    if (!file_.add(descriptor))
        return false;
    const int32_t offset = file_.find(descriptor.fingerprint, nullptr);
    // Only a newly appended record is a change; a repeat rewrote an older one in place.
    if (offset >= 0 && (history_.empty() || int32_t(history_.back()) < offset)) {
        history_.push_back(uint32_t(offset));
    }
    return true;
}

void CommonTrainingDb::trimHistory(uint32_t maxSize) {
    AutoLock guard(lock_);
    if (history_.size() > maxSize) {
        const size_t excess = history_.size() - maxSize;
        historyBase_ += uint32_t(excess);
        history_.erase(history_.begin(), history_.begin() + excess);
        // Before the file shrinks, so that a crash never moves clients' indexes backwards.
        saveHistoryBase();
    }
    const int32_t shift = file_.compact(maxSize);
    if (shift <= 0)
        return;
    // Entries naming dropped records cannot occur with files this store wrote; should a
    // foreign file produce them, they leave the history as if trimmed.
    auto kept = std::find_if(history_.begin(), history_.end(),
                             [shift](uint32_t offset) { return offset >= uint32_t(shift); });
    if (kept != history_.begin()) {
        historyBase_ += uint32_t(kept - history_.begin());
        history_.erase(history_.begin(), kept);
        saveHistoryBase();
    }
    for (uint32_t& offset : history_)
        offset -= uint32_t(shift);
}

void CommonTrainingDb::clear() {
    AutoLock guard(lock_);
    file_.compact(0);
    history_.clear();
    historyBase_ = 0;
    saveHistoryBase();
}

int32_t CommonTrainingDb::count() {
    AutoLock guard(lock_);
    return int32_t(history_.size());
}

bool CommonTrainingDb::load(const std::string& folder) {
    AutoLock guard(lock_);
    folder_ = folder;
    if (!file_.open(folder + kDataFileName))
        return false;
    Storage::FlatStorage options;
    if (!options.open(folder + kOptionsFileName))
        return false;
    uint32_t base = 0;
    if (options.read(&base, sizeof base, 1) == 1)
        historyBase_ = base;
    options.close();

    history_.clear();
    return file_.readAll([this](uint32_t offset, const MessageDescriptor& descriptor) {
        // Current records only; superseded ones (1000) were replaced by a later record.
        if (descriptor.status >= 1 && descriptor.status <= 99)
            history_.push_back(offset);
    });
}

bool CommonTrainingDb::flush() {
    AutoLock guard(lock_);
    bool ok = file_.close();
    return saveHistoryBase() && ok;
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

bool CommonTrainingDb::saveHistoryBase() {
    if (folder_.empty())
        return false;
    const uint32_t base = historyBase_;
    return replaceFileContents(folder_ + kOptionsFileName,
                               std::string_view(reinterpret_cast<const char*>(&base), sizeof base));
}
