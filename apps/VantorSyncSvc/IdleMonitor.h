#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// Ends a local server some time after its last client has gone: onIdle runs once,
// on the monitor's own thread, when the client count has stayed at zero for the
// whole delay. The count starts at zero: a server started for a message that never
// made a counted client (a ping, an introspection, a caller that left at once) ends
// one delay after its start.
class IdleMonitor {
  public:
    IdleMonitor(std::chrono::milliseconds delay, std::function<void()> onIdle);
    ~IdleMonitor();

    IdleMonitor(const IdleMonitor&) = delete;
    IdleMonitor& operator=(const IdleMonitor&) = delete;

    // A client arriving cancels a pending end; the count reaching zero starts the delay anew.
    void clientCountChanged(size_t count);

  private:
    using Clock = std::chrono::steady_clock;

    void run();

    const std::chrono::milliseconds delay_;
    const std::function<void()> onIdle_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Clock::time_point> deadline_;
    bool stopping_ = false;
    std::thread thread_;
};
