// The two files of the common whitelist: writing them so that no crash or failed
// write leaves a pair that disagrees, and reading them back.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include <zlib.h>

#include "platform/AtomicFile.h"
#include "storage/CommonWhitelist.h"
#include "storage/FlatStorage.h"
#include "storage/HistoryEndRecord.h"

namespace {

// Keys and records move between files and memory in chunks of this many items.
constexpr size_t kChunkItems = 8192;

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

uint32_t checksum(uint32_t crc, const void* data, size_t size) {
    // zlib takes a null buffer as a request for the initial value, even with no bytes.
    if (size == 0)
        return crc;
    return uint32_t(crc32_z(crc, static_cast<const Bytef*>(data), size));
}

// The history trailer: the save's number, then the checksum of the bytes before it.
void encodeHistoryTrailer(uint8_t* out, uint32_t number, uint32_t crc) {
    encodeTrailer(out, number, 4);
    encodeTrailer(out + 4, crc, 4);
}

bool historyTrailerMatches(const uint8_t* trailer, uint32_t crc, uint32_t& number) {
    if (Storage::loadLittleEndian32(trailer + 4) != crc)
        return false;
    number = Storage::loadLittleEndian32(trailer);
    return true;
}

// Save numbers run on past 32 bits; of two recent ones the later is the greater.
bool laterThan(uint32_t a, uint32_t b) {
    return int32_t(a - b) > 0;
}

}  // namespace

bool CommonWhitelist::writeKeysLocked(AtomicFileWriter& file, uint32_t number) {
    if (!file.open())
        return false;
    bool ok = true;
    std::unique_ptr<uint8_t[]> chunk;
    if constexpr (!Storage::kHostIsLittleEndian)
        chunk.reset(new uint8_t[kChunkItems * 8]);
    keys_.forEachRun([&](const int64_t* keys, size_t count) {
        if constexpr (Storage::kHostIsLittleEndian) {
            ok = ok && file.write(keys, count * sizeof(int64_t));
        } else {
            for (size_t i = 0; i < count; ++i) {
                Storage::storeLittleEndian64(chunk.get() + 8 * i, uint64_t(keys[i]));
            }
            ok = ok && file.write(chunk.get(), count * sizeof(int64_t));
        }
    });
    uint8_t trailer[kKeysTrailerSize];
    encodeTrailer(trailer, number, sizeof trailer);
    return ok && file.write(trailer, sizeof trailer);
}

bool CommonWhitelist::writeHistoryLocked(AtomicFileWriter& file, uint32_t maxHistory,
                                         uint32_t number, HistoryImage& image) {
    if (!file.open())
        return false;
    // The history as a trim to maxHistory would leave it.
    const size_t skipped = history_.size() > maxHistory ? history_.size() - maxHistory : 0;
    const size_t records = history_.size() - skipped;
    uint8_t base[4];
    Storage::storeLittleEndian32(base, historyBase_ + static_cast<uint32_t>(skipped));
    bool ok = file.write(base, sizeof(base));
    uint32_t crc = checksum(0, base, sizeof base);
    if constexpr (Storage::kHostIsLittleEndian) {
        const size_t bytes = records * WhitelistChange::kSize;
        ok = ok && file.write(history_.data() + skipped, bytes);
        crc = checksum(crc, history_.data() + skipped, bytes);
    } else {
        std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunkItems * WhitelistChange::kSize]);
        for (size_t from = 0; ok && from < records; from += kChunkItems) {
            const size_t count = std::min(kChunkItems, records - from);
            for (size_t i = 0; i < count; ++i) {
                history_[skipped + from + i].encode(chunk.get() + WhitelistChange::kSize * i);
            }
            ok = file.write(chunk.get(), count * WhitelistChange::kSize);
            crc = checksum(crc, chunk.get(), count * WhitelistChange::kSize);
        }
    }
    uint8_t trailer[kHistoryTrailerSize];
    encodeHistoryTrailer(trailer, number, crc);
    image = HistoryImage{4 + uint64_t(records) * WhitelistChange::kSize + kHistoryTrailerSize, crc,
                         endLocked(), number};
    return ok && file.write(trailer, sizeof trailer);
}

std::string CommonWhitelist::encodeGroupLocked(size_t from, uint32_t number,
                                               HistoryImage& image) const {
    std::string bytes((history_.size() - from) * WhitelistChange::kSize + kHistoryTrailerSize,
                      '\0');
    uint8_t* out = reinterpret_cast<uint8_t*>(bytes.data());
    for (size_t i = from; i < history_.size(); ++i, out += WhitelistChange::kSize)
        history_[i].encode(out);
    const size_t recordBytes = bytes.size() - kHistoryTrailerSize;
    // The group goes over the old trailer, so the checksum continues from the bytes before it.
    image.crc = checksum(historyFile_.crc, bytes.data(), recordBytes);
    image.bytes = historyFile_.bytes - kHistoryTrailerSize + bytes.size();
    image.end = endLocked();
    image.number = number;
    encodeHistoryTrailer(out, number, image.crc);
    return bytes;
}

bool CommonWhitelist::loadKeys(const std::string& path, uint32_t& saveNumber, bool& numbered) {
    Storage::FlatStorage file;
    if (!file.open(path))
        return false;
    const long long size = sizeOf(file);
    uint64_t number = 0;
    numbered = size >= 0 && size % 8 == static_cast<long long>(kKeysTrailerSize) &&
               readTrailer(file, size, kKeysTrailerSize, number);
    saveNumber = uint32_t(number);
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
    if (size < 0 || std::ferror(file.stream()))
        return false;
    keys_ = std::move(loaded);
    return true;
}

CommonWhitelist::LoadedHistory CommonWhitelist::findWholePart(const uint8_t* base,
                                                              const uint8_t* records, size_t count,
                                                              const uint8_t* tail,
                                                              const std::string& folder) {
    LoadedHistory loaded;
    const uint32_t baseCrc = checksum(0, base, 4);
    const uint32_t crc = checksum(baseCrc, records, count * WhitelistChange::kSize);
    if (tail != nullptr && historyTrailerMatches(tail, crc, loaded.number)) {
        loaded.numbered = true;
        loaded.image = HistoryImage{4 + count * WhitelistChange::kSize + kHistoryTrailerSize, crc,
                                    0, loaded.number};
        return loaded;
    }
    // The last appended group did not reach the disk whole. The records end where the
    // file was whole before it: at the last trailer that still matches the bytes before it
    // (the one the group was written over), or at the end recorded before the append,
    // which the group's first sectors may have overwritten.
    Storage::HistoryEndRecord recorded;
    const bool endRecorded =
        Storage::HistoryEndRecord::read(folder + kHistoryEndFileName, recorded) &&
        recorded.end >= 4 && (recorded.end - 4) % WhitelistChange::kSize == 0;
    const uint64_t recordedAt = endRecorded ? (recorded.end - 4) / WhitelistChange::kSize : ~0ull;
    uint32_t running = baseCrc, number = 0;
    for (size_t i = 0; i <= count; ++i) {
        const uint8_t* at = records + i * WhitelistChange::kSize;
        const bool trailerHere = i < count && historyTrailerMatches(at, running, number);
        if (trailerHere || (i == recordedAt && running == recorded.crc)) {
            loaded.numbered = loaded.cut = true;
            loaded.number = trailerHere ? number : recorded.number;
            loaded.image =
                HistoryImage{4 + uint64_t(i) * WhitelistChange::kSize, running, 0, loaded.number};
        }
        if (i < count)
            running = checksum(running, at, WhitelistChange::kSize);
    }
    return loaded;
}

bool CommonWhitelist::loadHistory(const std::string& folder, LoadedHistory& loaded) {
    loaded = LoadedHistory{};
    Storage::FlatStorage file;
    if (!file.open(folder + kHistoryFileName))
        return false;
    const long long size = sizeOf(file);
    if (size < 0)
        return false;
    uint8_t base[4];
    // An empty (or new) file leaves historyBase as it was.
    if (file.read(base, sizeof(base), 1) != 1) {
        history_.clear();
        return !std::ferror(file.stream());
    }

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
    if (std::ferror(file.stream()))
        return false;
    const uint64_t recordBytes = uint64_t(records.size()) * WhitelistChange::kSize;
    uint8_t tail[kHistoryTrailerSize];
    const bool tailFits = uint64_t(size) == 4 + recordBytes + kHistoryTrailerSize &&
                          file.seek(long(4 + recordBytes), SEEK_SET) &&
                          file.read(tail, sizeof tail, 1) == 1;
    loaded = findWholePart(base, reinterpret_cast<const uint8_t*>(records.data()), records.size(),
                           tailFits ? tail : nullptr, folder);
    if (loaded.cut)
        records.resize(size_t(loaded.image.bytes - 4) / WhitelistChange::kSize);
    if constexpr (!Storage::kHostIsLittleEndian) {
        for (WhitelistChange& record : records) {
            record = WhitelistChange::decode(reinterpret_cast<const uint8_t*>(&record));
        }
    }
    historyBase_ = Storage::loadLittleEndian32(base);
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
    endRecordedKnown_ = false;  // the side file is as the folder holds it, not as last written
    try {
        uint32_t keysNumber = 0;
        bool keysNumbered = false;
        LoadedHistory history;
        if (!loadKeys(keysPath, keysNumber, keysNumbered))
            return false;
        if (!loadHistory(folder, history))
            return false;
        // Saves write keys only for a state whose changes the history file already holds,
        // so keys at least as new as a whole history are the state; otherwise the history's
        // changes bring the older keys up to date (replaying them is harmless on keys that
        // already hold some of them: each key ends as its last change left it).
        const bool keysCurrent =
            keysNumbered && history.numbered && !laterThan(history.number, keysNumber);
        if (!keysCurrent) {
            // A history this store wrote with base 0 holds every change since the keys
            // were last empty (a clear), so it alone tells the keys, also those a clear
            // removed.
            if (history.numbered && historyBase_ == 0)
                keys_.clear();
            applyHistoryToKeys();
        }
        saveNumber_ = keysNumber;
        if (history.numbered && (!keysNumbered || laterThan(history.number, keysNumber)))
            saveNumber_ = history.number;
        folder_ = folder;
        // Records are appended only to a history file whose end is known to be whole, and
        // the records it holds count towards the next trim of both files, so that a store
        // that is never stopped cleanly still trims its history file.
        historyFile_ = history.numbered && !history.cut ? history.image : HistoryImage{};
        historyFile_.end = endLocked();
        appendedRecords_ = history_.size();
        pending_ = false;
        unsound_ = false;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
