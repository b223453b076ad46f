#pragma once

#include <condition_variable>
#include <mutex>

// Auto-reset event: set() releases exactly one wait (or the next one to come),
// after which the event is clear again.
class Event {
  public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // Waits until the event is set; negative timeoutMs waits forever.
    // Returns true when the event was set, false on time-out.
    bool wait(int timeoutMs = -1);

  private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
};
