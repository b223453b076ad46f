#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/IOB.h"

namespace Storage {
class FlatStorage;
}

// One labelled set of 64-bit values that a client computed from an e-mail message.
// The record layout is the same on the wire and in the data file: label (4), status (4),
// count (4) and count values of 8 bytes, little-endian and packed.
class MessageDescriptor {
  public:
    static constexpr uint32_t kMaxValues = 10000;
    static constexpr uint32_t kHeaderSize = 12;
    // Status of the record that is the current version of a descriptor.
    static constexpr int32_t kCurrent = 1;
    // Status of a record whose descriptor was later posted with another label.
    static constexpr int32_t kSuperseded = 1000;

    uint32_t label = 0;
    int32_t status = 0;
    std::vector<int64_t> values;
    // XOR of all values; the key under which the store finds a descriptor.
    int64_t fingerprint = 0;

    void clear();
    void addValue(int64_t value);
    uint32_t recordSize() const { return kHeaderSize + 8 * uint32_t(values.size()); }

    // Set inclusion: the same number of values, and every value of this one occurs
    // among those of the other. Order and repetition do not matter.
    bool matches(const MessageDescriptor& other) const;

    // Reads the record that starts at cursor; on success the cursor moves behind it.
    // Fails, leaving the cursor where it was, when a field lies beyond the body or
    // the count exceeds kMaxValues.
    bool parse(const HTTPParser::IOB& body, uint32_t& cursor);

    // The record bytes, as sent and as stored.
    void encode(std::string& out) const;
};

// Reads and writes records on a data file at its current position.
namespace DescriptorRecord {

enum class ReadResult {
    ok,
    end,  // no more bytes, or a record cut short / with an impossible count
    ioError
};

// Decodes the 12-byte header; false when the count is impossible.
bool decodeHeader(const uint8_t* header, uint32_t& label, int32_t& status, uint32_t& count);
void encodeHeader(uint8_t* header, uint32_t label, int32_t status, uint32_t count);

ReadResult read(Storage::FlatStorage& file, MessageDescriptor& descriptor);
bool write(Storage::FlatStorage& file, const MessageDescriptor& descriptor);

}  // namespace DescriptorRecord
