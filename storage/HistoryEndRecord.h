#pragma once

#include <cstdint>
#include <string>

namespace Storage {

// Where an append-only store file ended when it was last known whole, kept in a small
// file of its own beside it. A store that appends over its own trailer records the old
// end here (synced) before the append, so that an append a power loss tore can be cut
// back to that end even where the trailer it overwrote is gone. Nothing reads the side
// file but the store's load; a missing one only means no end was recorded.
struct HistoryEndRecord {
    uint32_t number = 0;  // the save that wrote the bytes before end
    uint64_t end = 0;     // offset at which the whole part ended
    uint32_t crc = 0;     // CRC-32 of the bytes before end

    bool operator==(const HistoryEndRecord&) const = default;

    // False when the file is missing, short or its own check fails. Never creates it.
    static bool read(const std::string& path, HistoryEndRecord& out);
    // Overwrites the file in place and syncs it; a new file's name is synced too.
    bool write(const std::string& path) const;
};

}  // namespace Storage
