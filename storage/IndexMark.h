#pragma once

#include <cstdint>
#include <string>

// The highest index each store has handed out. A store's end can go down (a clear, a
// restore of an older copy) while clients still hold any index up to it; a store that
// must never reuse those indexes numbers above this mark. Kept in "indexmark.bin":
// the two marks, then a CRC-32 of them, each a little-endian 32-bit number.
struct IndexMark {
    static constexpr const char* kFileName = "indexmark.bin";
    static constexpr size_t kSize = 12;

    enum class State { missing, sound, damaged };

    uint32_t whitelist = 0;
    uint32_t trainingDb = 0;

    // Missing or damaged leaves both marks 0.
    State read(const std::string& folder);
    // Crash-safe replace; true once durable.
    bool write(const std::string& folder) const;
    // Raises each mark to at least the given end.
    void raiseTo(uint32_t whitelistEnd, uint32_t trainingDbEnd);
};
