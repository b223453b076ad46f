#include "http/IOB.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace HTTPParser {

namespace {

uint64_t pageRounded(uint64_t size) {
    static const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

}  // namespace

IOB::~IOB() {
    releaseBlock();
}

IOB::IOB(IOB&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      lengthLimit_(other.lengthLimit_),
      growthDoubling_(other.growthDoubling_),
      blockSize_(std::exchange(other.blockSize_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

IOB& IOB::operator=(IOB&& other) noexcept {
    if (this != &other) {
        releaseBlock();
        data_ = std::exchange(other.data_, nullptr);
        length_ = std::exchange(other.length_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        lengthLimit_ = other.lengthLimit_;
        growthDoubling_ = other.growthDoubling_;
        blockSize_ = std::exchange(other.blockSize_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void IOB::releaseBlock() {
    if (data_ == nullptr)
        return;
    if (mapped_) {
        ::munmap(data_, blockSize_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    blockSize_ = 0;
    mapped_ = false;
}

bool IOB::resizeBlock(uint64_t size) {
    // The bytes in use and the zero byte behind them survive the move.
    uint64_t keep = data_ != nullptr ? uint64_t(length_) + 1 : 0;
    if (size < kMappedBlockSize) {
        if (mapped_) {
            void* block = std::malloc(size);
            if (block == nullptr)
                return false;
            std::memcpy(block, data_, keep < size ? keep : size);
            releaseBlock();
            data_ = static_cast<uint8_t*>(block);
        } else {
            void* block = std::realloc(data_, size);
            if (block == nullptr)
                return false;
            data_ = static_cast<uint8_t*>(block);
        }
        blockSize_ = size;
        capacity_ = static_cast<uint32_t>(size);
        return true;
    }
    uint64_t mappedSize = pageRounded(size);
    void* block = MAP_FAILED;
    if (mapped_) {
        block = ::mremap(data_, blockSize_, mappedSize, MREMAP_MAYMOVE);
    } else {
        block =
            ::mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block != MAP_FAILED && data_ != nullptr) {
            std::memcpy(block, data_, keep);
            std::free(data_);
        }
    }
    if (block == MAP_FAILED)
        return false;
    data_ = static_cast<uint8_t*>(block);
    mapped_ = true;
    blockSize_ = mappedSize;
    // The limit stays the largest capacity the buffer admits to.
    capacity_ = static_cast<uint32_t>(mappedSize < lengthLimit_ ? mappedSize : lengthLimit_);
    return true;
}

bool IOB::reserve(uint32_t n) {
    if (n > lengthLimit_)
        return false;
    if (n <= capacity_)
        return true;
    // A block that clear() forgot may still be big enough.
    if (n <= blockSize_) {
        capacity_ = static_cast<uint32_t>(blockSize_ < lengthLimit_ ? blockSize_ : lengthLimit_);
        return true;
    }
    return resizeBlock(n);
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
        if (!resizeBlock(size))
            return false;
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
