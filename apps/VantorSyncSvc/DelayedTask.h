#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Work that may wait a little but must not be forgotten: the first schedule() after a run
// starts the clock, and the task runs once, a fixed delay later, on a thread of its own.
// Many schedules within the delay cost one run. Without schedules the thread sleeps.
class DelayedTask {
  public:
    DelayedTask(std::chrono::milliseconds delay, std::function<void()> task);
    // Stops the thread; a pending run is dropped, so owners run the task themselves after.
    ~DelayedTask();

    DelayedTask(const DelayedTask&) = delete;
    DelayedTask& operator=(const DelayedTask&) = delete;

    // The thread starts on first use and again after stop().
    void schedule();
    // Waits for a running task to finish and ends the thread. The caller must not hold a
    // lock that the task takes.
    void stop();

  private:
    void run();

    const std::chrono::milliseconds delay_;
    const std::function<void()> task_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool due_ = false;
    bool stopping_ = false;
    std::thread thread_;
};
