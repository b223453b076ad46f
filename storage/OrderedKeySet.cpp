#include "storage/OrderedKeySet.h"

#include <algorithm>
#include <cstring>

namespace Storage {

std::unique_ptr<OrderedKeySet::Block> OrderedKeySet::newBlock() {
    // Plain new: the key array stays uninitialised instead of being zeroed.
    return std::unique_ptr<Block>(new Block);
}

size_t OrderedKeySet::findBlock(int64_t key) const {
    auto after = std::upper_bound(blocks_.begin(), blocks_.end(), key,
                                  [](int64_t k, const Entry& e) { return k < e.first; });
    return after == blocks_.begin() ? 0 : size_t(after - blocks_.begin()) - 1;
}

void OrderedKeySet::appendBlockWith(int64_t key) {
    std::unique_ptr<Block> block = newBlock();
    block->keys[0] = key;
    block->count = 1;
    blocks_.push_back(Entry{key, std::move(block)});
}

void OrderedKeySet::splitBlock(size_t index) {
    Block& full = *blocks_[index].block;
    const uint32_t keep = full.count / 2;
    std::unique_ptr<Block> upper = newBlock();
    upper->count = full.count - keep;
    std::memcpy(upper->keys, full.keys + keep, upper->count * sizeof(int64_t));
    const int64_t first = upper->keys[0];
    // Only shrink the old block once nothing can throw any more.
    blocks_.insert(blocks_.begin() + std::ptrdiff_t(index) + 1, Entry{first, std::move(upper)});
    blocks_[index].block->count = keep;
}

bool OrderedKeySet::insert(int64_t key) {
    if (blocks_.empty()) {
        appendBlockWith(key);
        ++size_;
        return true;
    }
    Block& last = *blocks_.back().block;
    if (key > last.keys[last.count - 1]) {
        if (last.count < kBlockCapacity) {
            last.keys[last.count++] = key;
        } else {
            appendBlockWith(key);
        }
        ++size_;
        return true;
    }

    size_t index = findBlock(key);
    Block* block = blocks_[index].block.get();
    int64_t* position = std::lower_bound(block->keys, block->keys + block->count, key);
    if (position != block->keys + block->count && *position == key)
        return false;
    if (block->count == kBlockCapacity) {
        splitBlock(index);
        if (key >= blocks_[index + 1].first)
            ++index;
        block = blocks_[index].block.get();
        position = std::lower_bound(block->keys, block->keys + block->count, key);
    }
    const size_t at = size_t(position - block->keys);
    std::memmove(position + 1, position, (block->count - at) * sizeof(int64_t));
    *position = key;
    ++block->count;
    if (at == 0)
        blocks_[index].first = key;
    ++size_;
    return true;
}

bool OrderedKeySet::erase(int64_t key) {
    if (blocks_.empty())
        return false;
    const size_t index = findBlock(key);
    Block& block = *blocks_[index].block;
    int64_t* position = std::lower_bound(block.keys, block.keys + block.count, key);
    if (position == block.keys + block.count || *position != key)
        return false;
    const size_t at = size_t(position - block.keys);
    std::memmove(position, position + 1, (block.count - at - 1) * sizeof(int64_t));
    --block.count;
    --size_;
    if (block.count == 0) {
        blocks_.erase(blocks_.begin() + std::ptrdiff_t(index));
        return true;
    }
    if (at == 0)
        blocks_[index].first = block.keys[0];
    rebalanceAfterErase(index);
    return true;
}

void OrderedKeySet::rebalanceAfterErase(size_t index) {
    if (blocks_.size() < 2 || blocks_[index].block->count >= kBlockCapacity / 4)
        return;
    const size_t left = index + 1 < blocks_.size() ? index : index - 1;
    Block& low = *blocks_[left].block;
    Block& high = *blocks_[left + 1].block;
    const uint32_t total = low.count + high.count;
    if (total <= kBlockCapacity) {
        std::memcpy(low.keys + low.count, high.keys, high.count * sizeof(int64_t));
        low.count = total;
        blocks_.erase(blocks_.begin() + std::ptrdiff_t(left) + 1);
        return;
    }
    // Too many for one block: share them evenly instead.
    const uint32_t target = total / 2;
    if (low.count < target) {
        const uint32_t moved = target - low.count;
        std::memcpy(low.keys + low.count, high.keys, moved * sizeof(int64_t));
        std::memmove(high.keys, high.keys + moved, (high.count - moved) * sizeof(int64_t));
        low.count += moved;
        high.count -= moved;
    } else {
        const uint32_t moved = low.count - target;
        std::memmove(high.keys + moved, high.keys, high.count * sizeof(int64_t));
        std::memcpy(high.keys, low.keys + target, moved * sizeof(int64_t));
        low.count -= moved;
        high.count += moved;
    }
    blocks_[left + 1].first = high.keys[0];
}

bool OrderedKeySet::appendAscending(const int64_t* keys, size_t count) {
    if (count == 0)
        return true;
    if (!blocks_.empty()) {
        const Block& last = *blocks_.back().block;
        if (keys[0] <= last.keys[last.count - 1])
            return false;
    }
    for (size_t i = 1; i < count; ++i) {
        if (keys[i] <= keys[i - 1])
            return false;
    }
    while (count > 0) {
        if (blocks_.empty() || blocks_.back().block->count == kBlockCapacity) {
            std::unique_ptr<Block> block = newBlock();
            blocks_.push_back(Entry{keys[0], std::move(block)});
        }
        Block& last = *blocks_.back().block;
        const size_t taken = std::min<size_t>(count, kBlockCapacity - last.count);
        std::memcpy(last.keys + last.count, keys, taken * sizeof(int64_t));
        last.count += uint32_t(taken);
        size_ += taken;
        keys += taken;
        count -= taken;
    }
    return true;
}

bool OrderedKeySet::contains(int64_t key) const {
    if (blocks_.empty())
        return false;
    const Block& block = *blocks_[findBlock(key)].block;
    return std::binary_search(block.keys, block.keys + block.count, key);
}

void OrderedKeySet::clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    size_ = 0;
}

}  // namespace Storage
