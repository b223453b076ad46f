#include "config/ByteStream.h"

#include <algorithm>
#include <cstring>

ByteStream::~ByteStream() = default;

MemoryByteStream::MemoryByteStream(uint64_t sizeLimit) : sizeLimit_(sizeLimit) {}

MemoryByteStream::MemoryByteStream(std::vector<uint8_t> bytes, uint64_t sizeLimit)
    : bytes_(std::move(bytes)), sizeLimit_(std::max<uint64_t>(sizeLimit, bytes_.size())) {}

bool MemoryByteStream::seek(uint64_t position) {
    if (position > sizeLimit_)
        return false;
    position_ = position;
    return true;
}

size_t MemoryByteStream::read(void* into, size_t n) {
    if (position_ >= bytes_.size() || n == 0)
        return 0;
    size_t available = static_cast<size_t>(bytes_.size() - position_);
    size_t count = std::min(n, available);
    std::memcpy(into, bytes_.data() + position_, count);
    position_ += count;
    return count;
}

bool MemoryByteStream::write(const void* from, size_t n) {
    if (n == 0)
        return true;
    if (n > sizeLimit_ || position_ > sizeLimit_ - n)
        return false;
    uint64_t end = position_ + n;
    if (end > bytes_.size())
        bytes_.resize(static_cast<size_t>(end), 0);
    std::memcpy(bytes_.data() + position_, from, n);
    position_ = end;
    return true;
}

bool MemoryByteStream::setSize(uint64_t size) {
    if (size > sizeLimit_)
        return false;
    bytes_.resize(static_cast<size_t>(size), 0);
    return true;
}
