#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <thread>

// SIGTERM and SIGINT as stop requests, SIGHUP as a request to read the configuration
// again. They are blocked in every thread and taken with sigwait in one place, so no
// library is ever entered from a signal handler, and SIGHUP never ends the process.
namespace StopSignals {

// Blocks the three signals in the calling thread and in all threads it starts later;
// call before any thread exists.
void block();
// Waits in the calling thread until one of them arrives; returns its number.
int wait();
// Waits until a stop signal arrives, calling onReload for every SIGHUP before it.
void waitForStop(const std::function<void()>& onReload);

}  // namespace StopSignals

// A thread that waits for a stop signal and then calls onStop once; every SIGHUP
// before it calls onReload on that thread. Destroying the watcher ends the thread
// without calling onStop if no stop signal came.
class StopSignalWatcher {
  public:
    StopSignalWatcher(std::function<void()> onStop, std::function<void()> onReload);
    ~StopSignalWatcher();

    StopSignalWatcher(const StopSignalWatcher&) = delete;
    StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

  private:
    std::function<void()> onStop_;
    std::function<void()> onReload_;
    std::atomic<bool> finishing_{false};
    std::thread thread_;
};
