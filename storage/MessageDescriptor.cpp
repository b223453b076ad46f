#include "storage/MessageDescriptor.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "storage/FlatStorage.h"

// Records are copied between memory, the wire and the file without conversion.
static_assert(std::endian::native == std::endian::little, "records are little-endian");

void MessageDescriptor::clear() {
    label = 0;
    status = 0;
    values.clear();
    fingerprint = 0;
}

void MessageDescriptor::addValue(int64_t value) {
    values.push_back(value);
    fingerprint ^= value;
}

bool MessageDescriptor::matches(const MessageDescriptor& other) const {
    if (values.size() != other.values.size())
        return false;
    std::vector<int64_t> theirs = other.values;
    std::sort(theirs.begin(), theirs.end());
    for (int64_t value : values) {
        if (!std::binary_search(theirs.begin(), theirs.end(), value))
            return false;
    }
    return true;
}

bool MessageDescriptor::parse(const HTTPParser::IOB& body, uint32_t& cursor) {
    clear();
    const uint64_t length = body.length();
    if (uint64_t(cursor) + kHeaderSize > length)
        return false;
    uint32_t count = 0;
    if (!DescriptorRecord::decodeHeader(body.data() + cursor, label, status, count))
        return false;
    const uint64_t valuesEnd = uint64_t(cursor) + kHeaderSize + 8 * uint64_t(count);
    if (valuesEnd > length)
        return false;
    values.resize(count);
    if (count > 0)
        std::memcpy(values.data(), body.data() + cursor + kHeaderSize, 8 * count);
    for (int64_t value : values)
        fingerprint ^= value;
    cursor = uint32_t(valuesEnd);
    return true;
}

void MessageDescriptor::encode(std::string& out) const {
    uint8_t header[kHeaderSize];
    DescriptorRecord::encodeHeader(header, label, status, uint32_t(values.size()));
    out.append(reinterpret_cast<const char*>(header), kHeaderSize);
    out.append(reinterpret_cast<const char*>(values.data()), 8 * values.size());
}

namespace DescriptorRecord {

bool decodeHeader(const uint8_t* header, uint32_t& label, int32_t& status, uint32_t& count) {
    std::memcpy(&label, header, 4);
    std::memcpy(&status, header + 4, 4);
    std::memcpy(&count, header + 8, 4);
    return count <= MessageDescriptor::kMaxValues;
}

void encodeHeader(uint8_t* header, uint32_t label, int32_t status, uint32_t count) {
    std::memcpy(header, &label, 4);
    std::memcpy(header + 4, &status, 4);
    std::memcpy(header + 8, &count, 4);
}

ReadResult read(Storage::FlatStorage& file, MessageDescriptor& descriptor) {
    descriptor.clear();
    uint8_t header[MessageDescriptor::kHeaderSize];
    uint32_t count = 0;
    if (file.read(header, sizeof header, 1) != 1) {
        return file.stream() != nullptr && std::ferror(file.stream()) ? ReadResult::ioError
                                                                      : ReadResult::end;
    }
    if (!decodeHeader(header, descriptor.label, descriptor.status, count))
        return ReadResult::end;
    descriptor.values.resize(count);
    if (count > 0 && file.read(descriptor.values.data(), 8 * count, 1) != 1) {
        descriptor.values.clear();
        return std::ferror(file.stream()) ? ReadResult::ioError : ReadResult::end;
    }
    for (int64_t value : descriptor.values)
        descriptor.fingerprint ^= value;
    return ReadResult::ok;
}

bool write(Storage::FlatStorage& file, const MessageDescriptor& descriptor) {
    const uint32_t count = uint32_t(descriptor.values.size());
    if (descriptor.values.size() > MessageDescriptor::kMaxValues)
        return false;
    uint8_t header[MessageDescriptor::kHeaderSize];
    encodeHeader(header, descriptor.label, descriptor.status, count);
    if (file.write(header, sizeof header, 1) != 1)
        return false;
    return count == 0 || file.write(descriptor.values.data(), 8 * count, 1) == 1;
}

}  // namespace DescriptorRecord
