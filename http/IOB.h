#pragma once

#include <cstddef>
#include <cstdint>

namespace HTTPParser {

// Growable byte buffer for bodies, received bytes and unsent response bytes.
// A zero byte is always kept after the data, so text can be scanned in place.
// Every failing operation leaves the buffer exactly as it was. Large blocks are
// mapped pages of their own, so releasing one gives the memory back to the system
// at once instead of leaving it with the allocator.
class IOB {
  public:
    static constexpr uint32_t kDefaultLengthLimit = 104857600;  // 100 MiB, zero byte included
    static constexpr uint32_t kInitialCapacity = 10;
    // Blocks of at least this size are mapped directly.
    static constexpr uint32_t kMappedBlockSize = 256 * 1024;

    IOB() : IOB(kDefaultLengthLimit) {}
    virtual ~IOB();

    IOB(const IOB&) = delete;
    IOB& operator=(const IOB&) = delete;
    IOB(IOB&& other) noexcept;
    IOB& operator=(IOB&& other) noexcept;

    // Adds n bytes; with copy unset they are left uninitialised to make room.
    bool append(const void* bytes, uint32_t n, bool copy = true);
    bool appendByte(uint8_t c);
    void assign(const IOB& other);
    // Makes room for n bytes in all (zero byte included) without changing the data;
    // false when n is beyond the limit or no memory is left.
    bool reserve(uint32_t n);
    // Forgets the content but keeps the block; the next append regrows from 10 bytes.
    void clear();
    // Shortens the data; longer lengths are refused.
    void setLength(uint32_t n);

    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    const char* chars() const { return reinterpret_cast<const char*>(data_); }
    uint32_t length() const { return length_; }
    uint32_t capacity() const { return capacity_; }
    uint32_t lengthLimit() const { return lengthLimit_; }
    bool growthDoubling() const { return growthDoubling_; }
    void setGrowthDoubling(bool doubling) { growthDoubling_ = doubling; }

  protected:
    // Buffers of other layers keep these rules under another limit.
    explicit IOB(uint32_t lengthLimit) : lengthLimit_(lengthLimit) {}

  private:
    bool resizeBlock(uint64_t size);
    void releaseBlock();

    uint8_t* data_ = nullptr;
    uint32_t length_ = 0;
    uint32_t capacity_ = 0;
    uint32_t lengthLimit_;
    bool growthDoubling_ = true;
    uint64_t blockSize_ = 0;  // the real size of data_, which clear() does not forget
    bool mapped_ = false;
};

}  // namespace HTTPParser
