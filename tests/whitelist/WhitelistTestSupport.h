#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "http/IOB.h"
#include "storage/WhitelistChange.h"

using Record = std::pair<int, int64_t>;  // op, key

// A body buffer with a small length limit, as another layer would derive one.
class LimitedIOB : public HTTPParser::IOB {
  public:
    explicit LimitedIOB(uint32_t limit) : IOB(limit) {}
};

inline std::vector<Record> recordsOf(const HTTPParser::IOB& body) {
    std::vector<Record> records;
    for (uint32_t at = 0; at + WhitelistChange::kSize <= body.length();
         at += WhitelistChange::kSize) {
        WhitelistChange change = WhitelistChange::decode(body.data() + at);
        const int op = change.op;
        const int64_t key = change.key;  // packed field: copied, never referenced
        records.emplace_back(op, key);
    }
    return records;
}

// The 9 wire bytes of one record, written out by hand (little-endian key).
inline std::string recordBytes(uint8_t op, int64_t key) {
    std::string bytes(1, char(op));
    uint64_t bits = static_cast<uint64_t>(key);
    for (int i = 0; i < 8; ++i)
        bytes.push_back(char(bits >> (8 * i)));
    return bytes;
}

inline void setBody(HTTPParser::IOB& body, const std::string& bytes) {
    body.clear();
    if (!bytes.empty())
        body.append(bytes.data(), uint32_t(bytes.size()));
}
