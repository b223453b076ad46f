#include "storage/CommonWhitelist.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

// Grows body by bytes and returns where they start, or nullptr when the body
// would exceed its length limit (the body is then unchanged).
uint8_t* extendBody(HTTPParser::IOB& body, uint64_t bytes) {
    if (bytes > std::numeric_limits<uint32_t>::max())
        return nullptr;
    if (!body.append(nullptr, static_cast<uint32_t>(bytes), false))
        return nullptr;
    return body.data() + body.length() - bytes;
}

}  // namespace

uint32_t CommonWhitelist::endLocked() const {
    return historyBase_ + static_cast<uint32_t>(history_.size());
}

uint32_t CommonWhitelist::servedEndLocked() const {
    if (!pending_ || durableMark_.base != historyBase_)
        return pending_ ? historyBase_ : endLocked();
    return historyBase_ + static_cast<uint32_t>(std::min(durableMark_.size, history_.size()));
}

bool CommonWhitelist::appendHistoryRecords(HTTPParser::IOB& body, size_t from, size_t to) const {
    const size_t count = to - from;
    if (count == 0)
        return true;
    uint8_t* out = extendBody(body, uint64_t(count) * WhitelistChange::kSize);
    if (out == nullptr)
        return false;
    if constexpr (Storage::kHostIsLittleEndian) {
        std::memcpy(out, history_.data() + from, count * WhitelistChange::kSize);
    } else {
        for (size_t i = from; i < to; ++i, out += WhitelistChange::kSize) {
            history_[i].encode(out);
        }
    }
    return true;
}

bool CommonWhitelist::appendSnapshot(HTTPParser::IOB& body) const {
    // Keys that changes not yet durable touched are shown as they were before them: the
    // first such change of a key tells (only effective changes reach the history).
    std::unordered_map<int64_t, bool> presentBefore;
    const size_t served = servedEndLocked() - historyBase_;
    for (size_t i = served; i < history_.size(); ++i) {
        const int64_t key = history_[i].key;  // a packed field: copied, never referenced
        presentBefore.try_emplace(key, history_[i].op == 0);
    }
    uint64_t count = keys_.size();
    for (const auto& [key, present] : presentBefore) {
        const bool held = keys_.contains(key);
        if (held && !present)
            --count;
        else if (!held && present)
            ++count;
    }
    // Sized up front, so an answer that cannot fit fails as a whole instead of
    // going out with keys silently missing.
    uint8_t* out = extendBody(body, (count + 1) * WhitelistChange::kSize);
    if (out == nullptr)
        return false;
    kWhitelistResetMarker.encode(out);
    out += WhitelistChange::kSize;
    auto put = [&out](int64_t key) {
        out[0] = WhitelistChange::kAdded;
        Storage::storeLittleEndian64(out + 1, static_cast<uint64_t>(key));
        out += WhitelistChange::kSize;
    };
    keys_.forEachRun([&](const int64_t* keys, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (!presentBefore.empty()) {
                auto found = presentBefore.find(keys[i]);
                if (found != presentBefore.end() && !found->second)
                    continue;
            }
            put(keys[i]);
        }
    });
    for (const auto& [key, present] : presentBefore) {
        if (present && !keys_.contains(key))
            put(key);
    }
    return true;
}

bool CommonWhitelist::getUpdates(uint32_t startIndex, HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock lock(lock_);
    body.clear();
    newIndex = historyBase_;
    const uint32_t end = servedEndLocked();
    bool written;
    if (startIndex < historyBase_) {
        written = appendSnapshot(body);
    } else if (startIndex > end) {
        // The client is ahead, as after a clear: it gets the history from its start.
        written = appendHistoryRecords(body, 0, end - historyBase_);
    } else if (startIndex == end) {
        written = true;
    } else {
        written = appendHistoryRecords(body, startIndex - historyBase_, end - historyBase_);
    }
    if (!written) {
        body.clear();
        return false;
    }
    newIndex = end;
    return true;
}

bool CommonWhitelist::applyLocked(const HTTPParser::IOB& body) {
    const size_t records = body.length() / WhitelistChange::kSize;
    const uint8_t* in = body.data();
    for (size_t i = 0; i < records; ++i, in += WhitelistChange::kSize) {
        const WhitelistChange change = WhitelistChange::decode(in);
        const bool applied = change.op != 0 ? addKey(change.key) : removeKey(change.key);
        if (!applied)
            return false;
    }
    return true;
}

bool CommonWhitelist::postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex) {
    if (body.length() < WhitelistChange::kSize)
        return true;
    // The whole push under the lock, so that a failure can take all of it back before
    // any pull has seen a part of it.
    AutoLock lock(lock_);
    const Mark before = mark();
    if (!applyLocked(body)) {
        undoSince(before);
        return false;
    }
    newIndex = endLocked();
    return true;
}

bool CommonWhitelist::push(const HTTPParser::IOB& body, uint32_t maxHistory,
                           const std::string& folder, uint32_t& newIndex) {
    AutoLock lock(lock_);
    awaitNoGroupLocked();
    uint32_t index = newIndex;
    // The lock stays held, so the group is this push alone.
    if (!applyPending(body, index)) {
        pending_ = false;
        groupEnded_.notify_all();
        return false;
    }
    if (!commitPending(folder, maxHistory))
        return false;
    newIndex = index;
    return true;
}

CommonWhitelist::Mark CommonWhitelist::mark() {
    AutoLock lock(lock_);
    return Mark{historyBase_, history_.size()};
}

void CommonWhitelist::rollbackTo(const Mark& mark) {
    AutoLock lock(lock_);
    undoSince(mark);
}

void CommonWhitelist::undoSince(const Mark& mark) {
    if (mark.base != historyBase_ || mark.size > history_.size())
        return;  // trimmed or cleared since: there is nothing left to take back
    try {
        for (size_t i = history_.size(); i > mark.size; --i) {
            const WhitelistChange& change = history_[i - 1];
            if (change.op != 0)
                keys_.erase(change.key);
            else
                keys_.insert(change.key);
        }
        history_.cutTo(mark.size);
    } catch (const std::bad_alloc&) {
        // Out of memory while putting keys back: the saved state is the last good one.
        if (!folder_.empty())
            load(folder_);
    }
}

bool CommonWhitelist::addKey(int64_t key) {
    AutoLock lock(lock_);
    try {
        // Room for the record first: a key must never be added without its record.
        history_.reserveForAppend();
        if (keys_.insert(key))
            history_.append(WhitelistChange{WhitelistChange::kAdded, key});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CommonWhitelist::removeKey(int64_t key) {
    AutoLock lock(lock_);
    try {
        history_.reserveForAppend();
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (keys_.erase(key))
        history_.append(WhitelistChange{WhitelistChange::kRemoved, key});
    return true;
}

void CommonWhitelist::trimHistory(uint32_t maxSize) {
    AutoLock lock(lock_);
    historyBase_ += static_cast<uint32_t>(history_.trimTo(maxSize));
}

bool CommonWhitelist::clear(const std::string& folder) {
    AutoLock lock(lock_);
    // The files take one writer at a time; a group still pending loses its changes and
    // its commit, seeing the new generation, writes nothing of them.
    while (committing_)
        groupEnded_.wait(lock_);
    keys_.clear();
    history_.clear();
    historyBase_ = 0;
    durableMark_ = Mark{0, 0};
    ++generation_;
    historyFile_ = HistoryImage{};  // the history file no longer continues memory's history
    return rewriteAll(folder, UINT32_MAX);
}

void CommonWhitelist::withFilesAtRest(const std::function<void()>& action) {
    AutoLock lock(lock_);
    while (committing_)
        groupEnded_.wait(lock_);
    action();
}

bool CommonWhitelist::renumberFrom(uint32_t base, const std::string& folder) {
    AutoLock lock(lock_);
    awaitNoGroupLocked();
    historyBase_ = base;
    durableMark_ = Mark{historyBase_, history_.size()};
    historyFile_ = HistoryImage{};  // the file's base is wrong now: both are written anew
    return rewriteAll(folder, UINT32_MAX);
}

int32_t CommonWhitelist::count() {
    AutoLock lock(lock_);
    const size_t size = history_.size();
    return size > size_t(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                              : static_cast<int32_t>(size);
}

uint32_t CommonWhitelist::historyBase() {
    AutoLock lock(lock_);
    return historyBase_;
}

uint32_t CommonWhitelist::end() {
    AutoLock lock(lock_);
    return endLocked();
}

CommonWhitelist::ServedState CommonWhitelist::servedState() {
    AutoLock lock(lock_);
    return ServedState{generation_, historyBase_, servedEndLocked()};
}

size_t CommonWhitelist::keyCount() {
    AutoLock lock(lock_);
    return keys_.size();
}

bool CommonWhitelist::containsKey(int64_t key) {
    AutoLock lock(lock_);
    return keys_.contains(key);
}

size_t CommonWhitelist::historyMemoryBytes() {
    AutoLock lock(lock_);
    return history_.memoryBytes();
}
