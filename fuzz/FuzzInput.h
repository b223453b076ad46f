#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Fuzz {

// Takes fuzzer bytes apart front to back. Reading past the end yields zeros and empty
// strings, so a target never has to check what is left before asking.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }
    size_t remaining() const { return size_; }

    uint8_t takeByte() {
        if (size_ == 0)
            return 0;
        --size_;
        return *data_++;
    }
    uint32_t takeUint32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= uint32_t(takeByte()) << (8 * i);
        return value;
    }
    // Up to n bytes; fewer when the input ends first.
    std::string takeBytes(size_t n) {
        if (n > size_)
            n = size_;
        std::string bytes(reinterpret_cast<const char*>(data_), n);
        data_ += n;
        size_ -= n;
        return bytes;
    }
    std::string takeRest() { return takeBytes(size_); }

  private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace Fuzz
