#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Storage {

// A set of signed 64-bit keys kept in ascending order, built for a million keys
// at about 12 bytes each: a sorted array of sorted blocks of at most
// kBlockCapacity keys. Look-up is two binary searches; insert and erase move at
// most one block's keys; ascending inserts (a sorted file being loaded) fill
// blocks completely instead of splitting them.
class OrderedKeySet {
  public:
    static constexpr uint32_t kBlockCapacity = 512;

    OrderedKeySet() = default;
    ~OrderedKeySet() = default;
    OrderedKeySet(OrderedKeySet&&) noexcept = default;
    OrderedKeySet& operator=(OrderedKeySet&&) noexcept = default;
    OrderedKeySet(const OrderedKeySet&) = delete;
    OrderedKeySet& operator=(const OrderedKeySet&) = delete;

    // True when the key was not there before. May throw std::bad_alloc, leaving the set as it was.
    bool insert(int64_t key);
    // True when the key was there. Never allocates.
    bool erase(int64_t key);
    bool contains(int64_t key) const;
    void clear();
    // Bulk path for a sorted file: appends keys when they are strictly ascending and
    // all above the largest key held, filling blocks completely; otherwise appends
    // nothing and returns false. May throw std::bad_alloc, keeping what was appended.
    bool appendAscending(const int64_t* keys, size_t count);

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_t blockCount() const { return blocks_.size(); }

    // Calls visit(const int64_t* keys, size_t count) for consecutive runs of keys,
    // together in ascending signed order.
    template <typename Visit>
    void forEachRun(Visit&& visit) const {
        for (const Entry& entry : blocks_)
            visit(entry.block->keys, size_t(entry.block->count));
    }
    // The same for the keys above `after` only; visit returns false to stop early.
    template <typename Visit>
    void forEachRunAbove(int64_t after, Visit&& visit) const {
        if (blocks_.empty())
            return;
        for (size_t index = findBlock(after); index < blocks_.size(); ++index) {
            const Block& block = *blocks_[index].block;
            const int64_t* first = std::upper_bound(block.keys, block.keys + block.count, after);
            const size_t count = size_t(block.keys + block.count - first);
            if (count > 0 && !visit(first, count))
                return;
        }
    }

  private:
    struct Block {
        uint32_t count = 0;
        int64_t keys[kBlockCapacity];
    };
    // The first key is kept beside the block pointer so the outer search
    // touches one contiguous array instead of every block.
    struct Entry {
        int64_t first;
        std::unique_ptr<Block> block;
    };

    static std::unique_ptr<Block> newBlock();
    // Index of the block whose range holds key (block 0 for keys below all).
    size_t findBlock(int64_t key) const;
    void appendBlockWith(int64_t key);
    void splitBlock(size_t index);
    // Keeps every block at least a quarter full, so erasing cannot leave the
    // set spread thinly over mostly empty blocks.
    void rebalanceAfterErase(size_t index);

    std::vector<Entry> blocks_;
    size_t size_ = 0;
};

}  // namespace Storage
