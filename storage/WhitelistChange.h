#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/ByteOrder.h"

// One change of the common whitelist: op 1 added the key, op 0 removed it.
// Packed to the 9 bytes that clients send and receive and that the history file
// holds; on a little-endian host the in-memory record is those very bytes.
#pragma pack(push, 1)
struct WhitelistChange {
    uint8_t op;
    int64_t key;

    static constexpr size_t kSize = 9;
    static constexpr uint8_t kAdded = 1;
    static constexpr uint8_t kRemoved = 0;

    void encode(uint8_t* out) const {
        out[0] = op;
        Storage::storeLittleEndian64(out + 1, static_cast<uint64_t>(key));
    }
    static WhitelistChange decode(const uint8_t* in) {
        return WhitelistChange{in[0], static_cast<int64_t>(Storage::loadLittleEndian64(in + 1))};
    }
};
#pragma pack(pop)

static_assert(sizeof(WhitelistChange) == WhitelistChange::kSize);

// Leads a full snapshot so that a client whose position was trimmed away starts over.
// A pushed add of the key -1 produces the same bytes.
inline constexpr WhitelistChange kWhitelistResetMarker{WhitelistChange::kAdded, -1};
