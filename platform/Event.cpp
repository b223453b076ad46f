#include "platform/Event.h"

#include <chrono>

void Event::set() {
    // Notify under the lock: a waiter may destroy the event as soon as it returns.
    std::lock_guard<std::mutex> guard(mutex_);
    set_ = true;
    signalled_.notify_one();
}

void Event::reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    set_ = false;
}

bool Event::wait(int timeoutMs) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (timeoutMs < 0) {
        signalled_.wait(guard, [this] { return set_; });
    } else if (!signalled_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                    [this] { return set_; })) {
        return false;
    }
    set_ = false;
    return true;
}
