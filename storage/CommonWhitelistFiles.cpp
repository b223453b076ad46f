// The two files of the common whitelist: writing them so that no crash or failed
// write leaves a pair that disagrees, and reading them back.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "platform/AtomicFile.h"
#include "storage/CommonWhitelist.h"
#include "storage/FlatStorage.h"

namespace {

// Keys and records move between files and memory in chunks of this many items.
constexpr size_t kChunkItems = 8192;
constexpr uint64_t kKeysTrailerMask = (uint64_t(1) << 56) - 1;

long long sizeOf(Storage::FlatStorage& file) {
    if (!file.seek(0, SEEK_END))
        return -1;
    const long long size = std::ftell(file.stream());
    return file.seek(0, SEEK_SET) ? size : -1;
}

// The little-endian number in the last bytes of the file, read without moving on.
bool readTrailer(Storage::FlatStorage& file, long long size, size_t bytes, uint64_t& value) {
    uint8_t raw[8] = {};
    if (size < static_cast<long long>(bytes) ||
        !file.seek(long(size - static_cast<long long>(bytes)), SEEK_SET) ||
        file.read(raw, bytes, 1) != 1)
        return false;
    value = 0;
    for (size_t i = bytes; i > 0; --i)
        value = (value << 8) | raw[i - 1];
    return true;
}

void encodeTrailer(uint8_t* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i, value >>= 8)
        out[i] = uint8_t(value);
}

}  // namespace

bool CommonWhitelist::save(const std::string& folder, uint32_t maxHistory) {
    AutoLock lock(lock_);
    bool savedOver = false;
    if (saveLocked(folder, maxHistory, savedOver))
        return true;
    if (savedOver) {
        // The history file may be new and the key file old: write both once more, so
        // that the pair on disk agrees with memory again.
        bool ignored = false;
        saveLocked(folder, maxHistory, ignored);
    }
    return false;
}

bool CommonWhitelist::saveLocked(const std::string& folder, uint32_t maxHistory, bool& savedOver) {
    savedOver = false;
    // Both files are written to temporary files first and only then renamed into
    // place, so a crash or a failed write never leaves a truncated store behind.
    AtomicFileWriter keysFile(folder + kKeysFileName);
    AtomicFileWriter historyFile(folder + kHistoryFileName);
    if (!keysFile.open() || !historyFile.open())
        return false;
    const uint64_t number = saveNumber_ + 1;

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
    uint8_t keysTrailer[kKeysTrailerSize];
    encodeTrailer(keysTrailer, number & kKeysTrailerMask, sizeof keysTrailer);
    ok = ok && keysFile.write(keysTrailer, sizeof keysTrailer);

    // The history as a trim to maxHistory would leave it.
    const size_t skipped = history_.size() > maxHistory ? history_.size() - maxHistory : 0;
    const size_t records = history_.size() - skipped;
    uint8_t base[4];
    Storage::storeLittleEndian32(base, historyBase_ + static_cast<uint32_t>(skipped));
    ok = ok && historyFile.write(base, sizeof(base));
    if constexpr (Storage::kHostIsLittleEndian) {
        ok = ok && historyFile.write(history_.data() + skipped, records * WhitelistChange::kSize);
    } else {
        for (size_t from = 0; ok && from < records; from += kChunkItems) {
            const size_t count = std::min(kChunkItems, records - from);
            for (size_t i = 0; i < count; ++i) {
                history_[skipped + from + i].encode(chunk.get() + WhitelistChange::kSize * i);
            }
            ok = historyFile.write(chunk.get(), count * WhitelistChange::kSize);
        }
    }
    uint8_t historyTrailer[kHistoryTrailerSize];
    encodeTrailer(historyTrailer, number, sizeof historyTrailer);
    ok = ok && historyFile.write(historyTrailer, sizeof historyTrailer);

    // Nothing is renamed into place before both files are completely on disk: the last
    // buffered bytes fail only when flushed. The history goes first: a crash between
    // the renames leaves a history whose changes the next load carries over to the
    // older keys, while the other order would leave keys no client learns about.
    ok = ok && keysFile.syncTemporary() && historyFile.syncTemporary();
    if (!ok)
        return false;
    ok = historyFile.commit();
    savedOver = historyFile.replacedTarget();
    ok = ok && keysFile.commit();
    savedOver = savedOver || keysFile.replacedTarget();
    if (ok)
        saveNumber_ = number;
    return ok;
}

bool CommonWhitelist::loadKeys(const std::string& path, uint64_t& saveNumber, bool& numbered) {
    Storage::FlatStorage file;
    if (!file.open(path))
        return false;
    const long long size = sizeOf(file);
    numbered = size >= 0 && size % 8 == static_cast<long long>(kKeysTrailerSize) &&
               readTrailer(file, size, kKeysTrailerSize, saveNumber);
    file.seek(0, SEEK_SET);
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

bool CommonWhitelist::loadHistory(const std::string& path, uint64_t& saveNumber, bool& numbered) {
    Storage::FlatStorage file;
    if (!file.open(path))
        return false;
    history_.clear();
    const long long size = sizeOf(file);
    numbered = size >= 4 && (size - 4) % WhitelistChange::kSize == kHistoryTrailerSize &&
               readTrailer(file, size, kHistoryTrailerSize, saveNumber);
    file.seek(0, SEEK_SET);
    uint8_t base[4];
    // An empty (or new) file leaves historyBase as it was.
    if (file.read(base, sizeof(base), 1) != 1)
        return true;
    historyBase_ = Storage::loadLittleEndian32(base);

    // Sized from the file up front so the records are read straight into place.
    std::vector<WhitelistChange> records;
    if (size > 4)
        records.reserve(size_t(size - 4) / WhitelistChange::kSize);
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

void CommonWhitelist::applyHistoryToKeys() {
    // Replaying the changes in order is harmless on keys that already hold them: each
    // key ends as its last change left it.
    for (size_t i = 0; i < history_.size(); ++i) {
        const WhitelistChange& change = history_[i];
        if (change.op != 0)
            keys_.insert(change.key);
        else
            keys_.erase(change.key);
    }
}

bool CommonWhitelist::load(const std::string& folder) {
    AutoLock lock(lock_);
    const std::string keysPath = folder + kKeysFileName;
    const std::string historyPath = folder + kHistoryFileName;
    removeLeftoverTemporaries(keysPath);
    removeLeftoverTemporaries(historyPath);
    try {
        uint64_t keysNumber = 0, historyNumber = 0;
        bool keysNumbered = false, historyNumbered = false;
        if (!loadKeys(keysPath, keysNumber, keysNumbered))
            return false;
        if (!loadHistory(historyPath, historyNumber, historyNumbered))
            return false;
        const bool samePair =
            keysNumbered && historyNumbered && keysNumber == (historyNumber & kKeysTrailerMask);
        if (!samePair) {
            // A history this store wrote with base 0 holds every change since the keys
            // were last empty (a clear), so it alone tells the keys, also those a clear
            // removed; otherwise its changes bring the older keys up to date.
            if (historyNumbered && historyBase_ == 0)
                keys_.clear();
            applyHistoryToKeys();
        }
        saveNumber_ = std::max(historyNumber, keysNumber);
        folder_ = folder;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
