#include "storage/HistoryEndRecord.h"

#include "storage/ByteOrder.h"
#include "storage/SyncedRecordFile.h"

namespace Storage {

bool HistoryEndRecord::read(const std::string& path, HistoryEndRecord& out) {
    uint8_t bytes[16];
    if (!readSyncedRecord(path, bytes, sizeof bytes))
        return false;
    out.number = loadLittleEndian32(bytes);
    out.end = loadLittleEndian64(bytes + 4);
    out.crc = loadLittleEndian32(bytes + 12);
    return true;
}

bool HistoryEndRecord::write(const std::string& path) const {
    uint8_t bytes[16];
    storeLittleEndian32(bytes, number);
    storeLittleEndian64(bytes + 4, end);
    storeLittleEndian32(bytes + 12, crc);
    return writeSyncedRecord(path, bytes, sizeof bytes);
}

}  // namespace Storage
