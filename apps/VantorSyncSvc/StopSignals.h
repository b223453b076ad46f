#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <thread>

// SIGTERM and SIGINT as stop requests. They are blocked in every thread and taken
// with sigwait in one place, so no library is ever entered from a signal handler.
namespace StopSignals {

// Blocks both signals in the calling thread and in all threads it starts later;
// call before any thread exists.
void block();
// Waits in the calling thread until one of them arrives.
void wait();

}  // namespace StopSignals

// A thread that waits for a stop signal and then calls onStop once. Destroying the
// watcher ends the thread without calling onStop if no signal came.
class StopSignalWatcher {
  public:
    explicit StopSignalWatcher(std::function<void()> onStop);
    ~StopSignalWatcher();

    StopSignalWatcher(const StopSignalWatcher&) = delete;
    StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

  private:
    std::function<void()> onStop_;
    std::atomic<bool> finishing_{false};
    std::thread thread_;
};
