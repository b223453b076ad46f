#include "http/BufferBudget.h"

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
    // Never below zero, whatever a caller got wrong.
    while (!used_.compare_exchange_weak(current, current >= n ? current - n : 0)) {
    }
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
