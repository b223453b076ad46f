#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// The store files and the wire carry little-endian integers; these helpers keep
// the byte order right on any host and compile to a plain copy on little-endian ones.
namespace Storage {

inline constexpr bool kHostIsLittleEndian = std::endian::native == std::endian::little;

inline void storeLittleEndian64(uint8_t* out, uint64_t value) {
    if constexpr (kHostIsLittleEndian) {
        std::memcpy(out, &value, 8);
    } else {
        for (int i = 0; i < 8; ++i)
            out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline uint64_t loadLittleEndian64(const uint8_t* in) {
    uint64_t value = 0;
    if constexpr (kHostIsLittleEndian) {
        std::memcpy(&value, in, 8);
    } else {
        for (int i = 0; i < 8; ++i)
            value |= uint64_t(in[i]) << (8 * i);
    }
    return value;
}

inline void storeLittleEndian32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t loadLittleEndian32(const uint8_t* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= uint32_t(in[i]) << (8 * i);
    return value;
}

}  // namespace Storage
