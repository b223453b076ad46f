#pragma once

#include <cstdint>
#include <string>

// What "histopt.bin" records so that every index names the same descriptor record
// before and after a restart or crash. Its first 4 bytes are the index of the oldest
// history entry, as ever; the bytes after them say where the history starts in the
// data file (every record from there on is in it) and, while a compaction may be
// moving that start, by how much and into which file.
struct TrainingDbOptions {
    uint32_t historyBase = 0;
    uint32_t firstOffset = 0;    // offset in the data file of history entry historyBase
    uint32_t pendingShift = 0;   // a compaction moves the records this far down...
    uint64_t shiftedFileId = 0;  // ...into the file with this inode

    // True when the file holds more than the base alone: a file of 4 bytes was written
    // before the history's start was recorded.
    bool complete = false;

    static constexpr size_t kSize = 20;

    // False when the file cannot be opened or read (a missing file is created empty).
    bool read(const std::string& path);
    bool write(const std::string& path) const;
    // From the first got bytes of such a file.
    void decode(const uint8_t* bytes, size_t got);
    // The history's start in the data file whose inode is fileId.
    uint32_t firstOffsetIn(uint64_t fileId) const;
};

// How far the data file holds acknowledged pushes: recorded (synced) after a commit's
// records are synced and before it is answered, and after a compaction or a load. Bytes
// past it were never acknowledged, and unsynced appends may have reached the disk torn or
// with holes, so a load cuts them. It belongs to the data file with its inode; for any
// other file it says nothing.
struct TrainingDbEnd {
    uint64_t fileId = 0;
    uint64_t end = 0;

    bool operator==(const TrainingDbEnd&) const = default;
    // False when the file is missing or not whole.
    bool read(const std::string& path);
    bool write(const std::string& path) const;
};
