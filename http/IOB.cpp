#include "http/IOB.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace HTTPParser {

IOB::~IOB() {
    std::free(data_);
}

IOB::IOB(IOB&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      lengthLimit_(other.lengthLimit_),
      growthDoubling_(other.growthDoubling_) {}

IOB& IOB::operator=(IOB&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        length_ = std::exchange(other.length_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        lengthLimit_ = other.lengthLimit_;
        growthDoubling_ = other.growthDoubling_;
    }
    return *this;
}

bool IOB::append(const void* bytes, uint32_t n, bool copy) {
    if (n == 0 || (copy && bytes == nullptr))
        return false;
    // 64-bit arithmetic: length + n + 1 must not wrap before the limit check.
    uint64_t needed = uint64_t(length_) + n + 1;
    if (needed > lengthLimit_)
        return false;
    if (capacity_ < needed) {
        uint64_t size = needed;
        if (growthDoubling_) {
            size = capacity_ == 0 ? kInitialCapacity : capacity_;
            while (size <= needed)
                size *= 2;
            if (size > lengthLimit_)
                size = needed;
        }
        void* block = std::realloc(data_, size);
        if (block == nullptr)
            return false;
        data_ = static_cast<uint8_t*>(block);
        capacity_ = static_cast<uint32_t>(size);
    }
    if (copy)
        std::memmove(data_ + length_, bytes, n);
    length_ += n;
    data_[length_] = 0;
    return true;
}

bool IOB::appendByte(uint8_t c) {
    return append(&c, 1, true);
}

void IOB::assign(const IOB& other) {
    if (this == &other)
        return;
    clear();
    if (other.length_ > 0)
        append(other.data_, other.length_, true);
}

void IOB::clear() {
    length_ = 0;
    capacity_ = 0;
    if (data_ != nullptr)
        data_[0] = 0;
}

void IOB::setLength(uint32_t n) {
    if (n <= length_)
        length_ = n;
}

}  // namespace HTTPParser
