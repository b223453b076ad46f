#include "storage/CommonWhitelist.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "platform/AtomicFile.h"
#include "storage/FlatStorage.h"

namespace {

// Keys and records move between files and memory in chunks of this many items.
constexpr size_t kChunkItems = 8192;

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

bool CommonWhitelist::appendHistoryRecords(HTTPParser::IOB& body, size_t from) const {
    const size_t count = history_.size() - from;
    if (count == 0)
        return true;
    uint8_t* out = extendBody(body, uint64_t(count) * WhitelistChange::kSize);
    if (out == nullptr)
        return false;
    if constexpr (Storage::kHostIsLittleEndian) {
        std::memcpy(out, history_.data() + from, count * WhitelistChange::kSize);
    } else {
        for (size_t i = from; i < history_.size(); ++i, out += WhitelistChange::kSize) {
            history_[i].encode(out);
        }
    }
    return true;
}

bool CommonWhitelist::appendSnapshot(HTTPParser::IOB& body) const {
    // Sized up front, so an answer that cannot fit fails as a whole instead of
    // going out with keys silently missing.
    uint8_t* out = extendBody(body, (uint64_t(keys_.size()) + 1) * WhitelistChange::kSize);
    if (out == nullptr)
        return false;
    kWhitelistResetMarker.encode(out);
    out += WhitelistChange::kSize;
    keys_.forEachRun([&out](const int64_t* keys, size_t count) {
        for (size_t i = 0; i < count; ++i, out += WhitelistChange::kSize) {
            out[0] = WhitelistChange::kAdded;
            Storage::storeLittleEndian64(out + 1, static_cast<uint64_t>(keys[i]));
        }
    });
    return true;
}

bool CommonWhitelist::getUpdates(uint32_t startIndex, HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock lock(lock_);
    body.clear();
    newIndex = historyBase_;
    const uint32_t end = endLocked();
    bool written;
    if (startIndex < historyBase_) {
        written = appendSnapshot(body);
    } else if (startIndex > end) {
        // The client is ahead, as after a clear: it gets the history from its start.
        written = appendHistoryRecords(body, 0);
    } else if (startIndex == end) {
        written = true;
    } else {
        written = appendHistoryRecords(body, startIndex - historyBase_);
    }
    if (!written) {
        body.clear();
        return false;
    }
    newIndex = end;
    return true;
}

bool CommonWhitelist::postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex) {
    const size_t records = body.length() / WhitelistChange::kSize;
    if (records == 0)
        return true;
    // Each change takes the lock on its own, so management calls are not held
    // up for the length of a large push.
    const uint8_t* in = body.data();
    for (size_t i = 0; i < records; ++i, in += WhitelistChange::kSize) {
        const WhitelistChange change = WhitelistChange::decode(in);
        const bool applied = change.op != 0 ? addKey(change.key) : removeKey(change.key);
        if (!applied)
            return false;
    }
    newIndex = end();
    return true;
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

void CommonWhitelist::clear() {
    AutoLock lock(lock_);
    keys_.clear();
    history_.clear();
    historyBase_ = 0;
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

bool CommonWhitelist::save(const std::string& folder) {
    AutoLock lock(lock_);
    // Both files are written to temporary files first and only then renamed into
    // place, so a crash or a failed write never leaves a truncated store behind.
    AtomicFileWriter keysFile(folder + kKeysFileName);
    AtomicFileWriter historyFile(folder + kHistoryFileName);
    if (!keysFile.open() || !historyFile.open())
        return false;

    bool ok = true;
    std::unique_ptr<uint8_t[]> chunk;
    if constexpr (!Storage::kHostIsLittleEndian)
        chunk.reset(new uint8_t[kChunkItems * 9]);
    keys_.forEachRun([&](const int64_t* keys, size_t count) {
        if constexpr (Storage::kHostIsLittleEndian) {
            ok = ok && keysFile.write(keys, count * sizeof(int64_t));
        } else {
            for (size_t i = 0; i < count; ++i) {
                Storage::storeLittleEndian64(chunk.get() + 8 * i, uint64_t(keys[i]));
            }
            ok = ok && keysFile.write(chunk.get(), count * sizeof(int64_t));
        }
    });

    uint8_t base[4];
    Storage::storeLittleEndian32(base, historyBase_);
    ok = ok && historyFile.write(base, sizeof(base));
    if constexpr (Storage::kHostIsLittleEndian) {
        ok = ok && historyFile.write(history_.data(), history_.size() * WhitelistChange::kSize);
    } else {
        for (size_t from = 0; ok && from < history_.size(); from += kChunkItems) {
            const size_t count = std::min(kChunkItems, history_.size() - from);
            for (size_t i = 0; i < count; ++i) {
                history_[from + i].encode(chunk.get() + WhitelistChange::kSize * i);
            }
            ok = historyFile.write(chunk.get(), count * WhitelistChange::kSize);
        }
    }
    // Nothing is renamed into place before both files are completely on disk: the last
    // buffered bytes fail only when flushed, and a failing history file must not leave
    // a new keys file beside the old history.
    ok = ok && syncStream(keysFile.stream()) && syncStream(historyFile.stream());
    if (!ok)
        return false;
    return keysFile.commit() && historyFile.commit();
}

bool CommonWhitelist::loadKeys(const std::string& path) {
    Storage::FlatStorage file;
    if (!file.open(path))
        return false;
    Storage::OrderedKeySet loaded;
    std::vector<int64_t> chunk(kChunkItems);
    for (;;) {
        const size_t got = file.read(chunk.data(), sizeof(int64_t), kChunkItems);
        if constexpr (!Storage::kHostIsLittleEndian) {
            for (size_t i = 0; i < got; ++i) {
                chunk[i] = int64_t(
                    Storage::loadLittleEndian64(reinterpret_cast<const uint8_t*>(&chunk[i])));
            }
        }
        // Files this store wrote are sorted and go in whole chunks; any other
        // order is accepted key by key.
        if (!loaded.appendAscending(chunk.data(), got)) {
            for (size_t i = 0; i < got; ++i)
                loaded.insert(chunk[i]);
        }
        // A short read is the end of the file; a final partial key is ignored.
        if (got < kChunkItems)
            break;
    }
    keys_ = std::move(loaded);
    return true;
}

bool CommonWhitelist::loadHistory(const std::string& path) {
    Storage::FlatStorage file;
    if (!file.open(path))
        return false;
    history_.clear();
    uint8_t base[4];
    // An empty (or new) file leaves historyBase as it was.
    if (file.read(base, sizeof(base), 1) != 1)
        return true;
    historyBase_ = Storage::loadLittleEndian32(base);

    // Sized from the file up front so the records are read straight into place.
    std::vector<WhitelistChange> records;
    const int32_t start = file.tell();
    if (file.seek(0, SEEK_END)) {
        const int32_t size = file.tell();
        if (size > start)
            records.reserve(size_t(size - start) / WhitelistChange::kSize);
        file.seek(start, SEEK_SET);
    }
    for (;;) {
        const size_t had = records.size();
        const size_t want = std::max(kChunkItems, records.capacity() - had);
        records.resize(had + want);
        const size_t got = file.read(records.data() + had, WhitelistChange::kSize, want);
        records.resize(had + got);
        if (got < want)
            break;
    }
    if constexpr (!Storage::kHostIsLittleEndian) {
        for (WhitelistChange& record : records) {
            record = WhitelistChange::decode(reinterpret_cast<const uint8_t*>(&record));
        }
    }
    history_.assign(std::move(records));
    return true;
}

bool CommonWhitelist::load(const std::string& folder) {
    AutoLock lock(lock_);
    try {
        if (!loadKeys(folder + kKeysFileName))
            return false;
        return loadHistory(folder + kHistoryFileName);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
