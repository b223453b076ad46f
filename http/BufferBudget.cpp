#include "http/BufferBudget.h"

#include <cassert>

namespace HTTPParser {

namespace {

constexpr uint64_t kTrimEvery = 32 * 1024 * 1024;

}  // namespace

bool BufferBudget::tryCharge(uint64_t n) {
    uint64_t current = used_.load();
    do {
        if (current + n > limit_.load())
            return false;
    } while (!used_.compare_exchange_weak(current, current + n));
    return true;
}

void BufferBudget::charge(uint64_t n) {
    used_.fetch_add(n);
}

void BufferBudget::release(uint64_t n) {
    uint64_t current = used_.load();
    do {
        // Releasing more than was charged is an accounting fault of the caller: the test
        // builds stop on it; a release build keeps the count from wrapping around.
        assert(current >= n && "buffer budget released more than was charged");
    } while (!used_.compare_exchange_weak(current, current >= n ? current - n : 0));
}

void BufferBudget::noteFreed(uint64_t n) {
    freedSinceTrim_.fetch_add(n);
}

bool BufferBudget::takeTrimHint() {
    if (freedSinceTrim_.load() < kTrimEvery)
        return false;
    freedSinceTrim_.store(0);
    return true;
}

}  // namespace HTTPParser
