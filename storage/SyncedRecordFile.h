#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Storage {

// A small file that holds one fixed-size record, followed by the CRC-32 of it, overwritten
// in place. The record fits one sector, so it reaches the disk old or new; the CRC-32 covers
// a disk that does not keep even that.

// False when the file is missing, short or its CRC-32 does not match. Never creates it.
bool readSyncedRecord(const std::string& path, uint8_t* record, size_t size);
// Writes and syncs the record; a new file's name is synced with its folder.
bool writeSyncedRecord(const std::string& path, const uint8_t* record, size_t size);

}  // namespace Storage
