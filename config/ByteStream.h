#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The byte stream through which the configuration text travels between the
// service and the console: a seekable sequence of bytes with a current position.
// Every failing operation leaves the stream as it was.
class ByteStream {
  public:
    virtual ~ByteStream();

    virtual uint64_t size() const = 0;
    virtual uint64_t position() const = 0;
    // Positions beyond the end are allowed; a later write fills the gap with zero bytes.
    virtual bool seek(uint64_t position) = 0;
    // Copies up to n bytes from the current position; returns how many were copied.
    virtual size_t read(void* into, size_t n) = 0;
    // Writes all n bytes at the current position, growing the stream as needed.
    virtual bool write(const void* from, size_t n) = 0;
    // Cuts or extends (with zero bytes) the stream; the position is not moved.
    virtual bool setSize(uint64_t size) = 0;
};

// A stream held in memory, bounded so that a peer cannot make us allocate without limit.
class MemoryByteStream : public ByteStream {
  public:
    static constexpr uint64_t kDefaultSizeLimit = 128u * 1024u * 1024u;

    explicit MemoryByteStream(uint64_t sizeLimit = kDefaultSizeLimit);
    explicit MemoryByteStream(std::vector<uint8_t> bytes, uint64_t sizeLimit = kDefaultSizeLimit);

    uint64_t size() const override { return bytes_.size(); }
    uint64_t position() const override { return position_; }
    bool seek(uint64_t position) override;
    size_t read(void* into, size_t n) override;
    bool write(const void* from, size_t n) override;
    bool setSize(uint64_t size) override;

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint64_t sizeLimit() const { return sizeLimit_; }

  private:
    std::vector<uint8_t> bytes_;
    uint64_t position_ = 0;
    uint64_t sizeLimit_;
};
