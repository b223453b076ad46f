#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/AtomicFile.h"
#include "storage/FlatStorage.h"

namespace Storage {

// A hash map from integer keys to small values that stores itself as a file of
// packed entries (key bytes then value bytes, little-endian, no header).
//
// Entries are never removed one by one, so the table is a plain open-addressing
// array with linear probing and no tombstones. One key value serves as the mark
// of an empty slot; an entry with that key lives beside the table.
template <typename K, typename V>
class FMap {
    static_assert(std::is_integral_v<K> && std::is_trivially_copyable_v<V>);

  public:
    FMap() = default;
    virtual ~FMap() = default;

    FMap(const FMap&) = delete;
    FMap& operator=(const FMap&) = delete;
    FMap(FMap&&) noexcept = default;
    FMap& operator=(FMap&&) noexcept = default;

    V* find(K key);
    const V* find(K key) const { return const_cast<FMap*>(this)->find(key); }
    // Inserts the entry, or replaces the value of an existing one.
    void set(K key, V value) { *slotFor(key) = value; }
    // Inserts the entry only when the key is absent; true when it was inserted.
    bool insert(K key, V value);
    // Removes the entry; true when there was one. Used to take back an insert.
    bool erase(K key);
    // Forgets every entry and gives the table's memory back.
    void clear();
    // Sizes the table for n entries without further growth.
    void reserve(size_t n);

    size_t size() const { return used_ + (hasEmptyKeyEntry_ ? 1 : 0); }
    size_t memoryBytes() const { return capacity_ * sizeof(Slot); }

    // Calls fn(key, value) for every entry, in table order.
    template <typename Fn>
    void forEach(Fn&& fn) const;

    // Replaces the content with the entries of the file (an entry whose key was
    // already read is ignored; a cut-off last entry too). A missing file is
    // created empty. False, with the map unchanged, when the file cannot be opened.
    bool load(const std::string& path);
    // Rewrites the file crash-safely; the old file stays intact when this fails.
    bool save(const std::string& path) const;

    static constexpr size_t kEntrySize = sizeof(K) + sizeof(V);

  private:
#pragma pack(push, 4)
    struct Slot {
        K key;
        V value;
    };
#pragma pack(pop)

    static constexpr K kEmptyKey = std::numeric_limits<K>::min();
    static constexpr size_t kMinCapacity = 16;

    static size_t hash(K key) {
        uint64_t x = static_cast<uint64_t>(key);
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return static_cast<size_t>(x);
    }
    // Keeps at most 4 of 5 slots in use so probe runs stay short.
    static bool tooFull(size_t used, size_t capacity) {
        return used * 5 >= capacity * 4;
    }

    V* slotFor(K key);
    void rehash(size_t newCapacity);

    std::unique_ptr<Slot[]> slots_;
    size_t capacity_ = 0;  // a power of two, or 0
    size_t used_ = 0;
    bool hasEmptyKeyEntry_ = false;
    V emptyKeyValue_{};
};

template <typename K, typename V>
V* FMap<K, V>::find(K key) {
    if (key == kEmptyKey)
        return hasEmptyKeyEntry_ ? &emptyKeyValue_ : nullptr;
    if (capacity_ == 0)
        return nullptr;
    const size_t mask = capacity_ - 1;
    for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (slot.key == key)
            return &slot.value;
        if (slot.key == kEmptyKey)
            return nullptr;
    }
}

template <typename K, typename V>
V* FMap<K, V>::slotFor(K key) {
    if (key == kEmptyKey) {
        if (!hasEmptyKeyEntry_)
            emptyKeyValue_ = V{};
        hasEmptyKeyEntry_ = true;
        return &emptyKeyValue_;
    }
    if (tooFull(used_ + 1, capacity_))
        rehash(capacity_ == 0 ? kMinCapacity : capacity_ * 2);
    const size_t mask = capacity_ - 1;
    for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (slot.key == key)
            return &slot.value;
        if (slot.key == kEmptyKey) {
            slot.key = key;
            slot.value = V{};
            ++used_;
            return &slot.value;
        }
    }
}

template <typename K, typename V>
bool FMap<K, V>::insert(K key, V value) {
    if (find(key) != nullptr)
        return false;
    set(key, value);
    return true;
}

template <typename K, typename V>
bool FMap<K, V>::erase(K key) {
    if (key == kEmptyKey) {
        const bool had = hasEmptyKeyEntry_;
        hasEmptyKeyEntry_ = false;
        return had;
    }
    if (capacity_ == 0)
        return false;
    const size_t mask = capacity_ - 1;
    size_t hole = hash(key) & mask;
    while (slots_[hole].key != key) {
        if (slots_[hole].key == kEmptyKey)
            return false;
        hole = (hole + 1) & mask;
    }
    // Without tombstones, later entries of the probe run move up into the hole
    // whenever their home slot does not lie between the hole and where they are.
    for (size_t i = (hole + 1) & mask; slots_[i].key != kEmptyKey; i = (i + 1) & mask) {
        const size_t home = hash(slots_[i].key) & mask;
        const bool stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
        if (!stays) {
            slots_[hole] = slots_[i];
            hole = i;
        }
    }
    slots_[hole].key = kEmptyKey;
    --used_;
    return true;
}

template <typename K, typename V>
void FMap<K, V>::clear() {
    slots_.reset();
    capacity_ = 0;
    used_ = 0;
    hasEmptyKeyEntry_ = false;
}

template <typename K, typename V>
void FMap<K, V>::reserve(size_t n) {
    size_t capacity = capacity_ == 0 ? kMinCapacity : capacity_;
    while (tooFull(n, capacity))
        capacity *= 2;
    if (capacity > capacity_)
        rehash(capacity);
}

template <typename K, typename V>
void FMap<K, V>::rehash(size_t newCapacity) {
    std::unique_ptr<Slot[]> old = std::move(slots_);
    const size_t oldCapacity = capacity_;
    slots_.reset(new Slot[newCapacity]);
    for (size_t i = 0; i < newCapacity; ++i)
        slots_[i].key = kEmptyKey;
    capacity_ = newCapacity;
    const size_t mask = newCapacity - 1;
    for (size_t j = 0; j < oldCapacity; ++j) {
        if (old[j].key == kEmptyKey)
            continue;
        size_t i = hash(old[j].key) & mask;
        while (slots_[i].key != kEmptyKey)
            i = (i + 1) & mask;
        slots_[i] = old[j];
    }
}

template <typename K, typename V>
template <typename Fn>
void FMap<K, V>::forEach(Fn&& fn) const {
    if (hasEmptyKeyEntry_)
        fn(kEmptyKey, emptyKeyValue_);
    for (size_t i = 0; i < capacity_; ++i) {
        if (slots_[i].key != kEmptyKey)
            fn(slots_[i].key, slots_[i].value);
    }
}

template <typename K, typename V>
bool FMap<K, V>::load(const std::string& path) {
    FlatStorage file;
    if (!file.open(path))
        return false;
    FMap loaded;
    constexpr size_t kBatch = 4096;
    std::unique_ptr<uint8_t[]> entries(new uint8_t[kBatch * kEntrySize]);
    for (;;) {
        const size_t got = file.read(entries.get(), kEntrySize, kBatch);
        for (size_t i = 0; i < got; ++i) {
            K key;
            V value;
            std::memcpy(&key, entries.get() + i * kEntrySize, sizeof(K));
            std::memcpy(&value, entries.get() + i * kEntrySize + sizeof(K), sizeof(V));
            loaded.insert(key, value);
        }
        if (got < kBatch)
            break;
    }
    *this = std::move(loaded);
    return true;
}

template <typename K, typename V>
bool FMap<K, V>::save(const std::string& path) const {
    AtomicFileWriter writer(path);
    if (!writer.open())
        return false;
    constexpr size_t kBatch = 4096;
    std::unique_ptr<uint8_t[]> entries(new uint8_t[kBatch * kEntrySize]);
    size_t pending = 0;
    bool ok = true;
    forEach([&](K key, V value) {
        std::memcpy(entries.get() + pending * kEntrySize, &key, sizeof(K));
        std::memcpy(entries.get() + pending * kEntrySize + sizeof(K), &value, sizeof(V));
        if (++pending == kBatch) {
            ok = ok && writer.write(entries.get(), pending * kEntrySize);
            pending = 0;
        }
    });
    if (pending > 0)
        ok = ok && writer.write(entries.get(), pending * kEntrySize);
    return ok && writer.commit();
}

extern template class FMap<int64_t, int32_t>;

}  // namespace Storage
