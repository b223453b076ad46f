#include "storage/TrainingDbOptions.h"

#include <cstdio>

#include "platform/AtomicFile.h"
#include "storage/ByteOrder.h"
#include "storage/FlatStorage.h"
#include "storage/SyncedRecordFile.h"

bool TrainingDbOptions::read(const std::string& path) {
    Storage::FlatStorage file;
    if (!file.open(path))
        return false;
    uint8_t bytes[kSize] = {};
    const size_t got = file.read(bytes, 1, kSize);
    if (got < kSize && std::ferror(file.stream()))
        return false;  // unreadable is not the same as short
    decode(bytes, got);
    return true;
}

void TrainingDbOptions::decode(const uint8_t* bytes, size_t got) {
    if (got >= 4)
        historyBase = Storage::loadLittleEndian32(bytes);
    complete = got == kSize;
    if (complete) {
        firstOffset = Storage::loadLittleEndian32(bytes + 4);
        pendingShift = Storage::loadLittleEndian32(bytes + 8);
        shiftedFileId = Storage::loadLittleEndian64(bytes + 12);
    }
}

bool TrainingDbOptions::write(const std::string& path) const {
    uint8_t bytes[kSize];
    Storage::storeLittleEndian32(bytes, historyBase);
    Storage::storeLittleEndian32(bytes + 4, firstOffset);
    Storage::storeLittleEndian32(bytes + 8, pendingShift);
    Storage::storeLittleEndian64(bytes + 12, shiftedFileId);
    return replaceFileContents(path, std::string_view(reinterpret_cast<const char*>(bytes), kSize));
}

uint32_t TrainingDbOptions::firstOffsetIn(uint64_t fileId) const {
    if (pendingShift != 0 && fileId != 0 && fileId == shiftedFileId && firstOffset >= pendingShift)
        return firstOffset - pendingShift;
    return firstOffset;
}

bool TrainingDbEnd::read(const std::string& path) {
    uint8_t bytes[16];
    if (!Storage::readSyncedRecord(path, bytes, sizeof bytes))
        return false;
    fileId = Storage::loadLittleEndian64(bytes);
    end = Storage::loadLittleEndian64(bytes + 8);
    return true;
}

bool TrainingDbEnd::write(const std::string& path) const {
    uint8_t bytes[16];
    Storage::storeLittleEndian64(bytes, fileId);
    Storage::storeLittleEndian64(bytes + 8, end);
    return Storage::writeSyncedRecord(path, bytes, sizeof bytes);
}
