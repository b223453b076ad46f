#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "http/IOB.h"

// Builds descriptor records byte by byte, independently of the store's own encoder.
inline std::string le32(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((value >> (8 * i)) & 0xff);
    return out;
}

inline std::string le64(int64_t value) {
    std::string out(8, '\0');
    const uint64_t bits = uint64_t(value);
    for (int i = 0; i < 8; ++i)
        out[i] = char((bits >> (8 * i)) & 0xff);
    return out;
}

template <typename Values>
std::string recordOf(uint32_t label, int32_t status, const Values& values) {
    std::string out = le32(label) + le32(uint32_t(status)) + le32(uint32_t(values.size()));
    for (int64_t value : values)
        out += le64(value);
    return out;
}

inline std::string record(uint32_t label, int32_t status, std::initializer_list<int64_t> values) {
    return recordOf(label, status, values);
}

inline std::string record(uint32_t label, int32_t status, const std::vector<int64_t>& values) {
    return recordOf(label, status, values);
}

inline void fill(HTTPParser::IOB& body, const std::string& bytes) {
    body.clear();
    if (!bytes.empty())
        body.append(bytes.data(), uint32_t(bytes.size()));
}

inline std::string contents(const HTTPParser::IOB& body) {
    return std::string(body.chars(), body.length());
}
