#include "apps/VantorSyncSvc/IdleMonitor.h"

IdleMonitor::IdleMonitor(std::chrono::milliseconds delay, std::function<void()> onIdle)
    : delay_(delay),
      onIdle_(std::move(onIdle)),
      deadline_(Clock::now() + delay),
      thread_([this] { run(); }) {}

IdleMonitor::~IdleMonitor() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void IdleMonitor::clientCountChanged(size_t count) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (count == 0) {
            deadline_ = Clock::now() + delay_;
        } else {
            deadline_.reset();
        }
    }
    changed_.notify_all();
}

void IdleMonitor::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (!deadline_) {
            changed_.wait(lock);
            continue;
        }
        Clock::time_point deadline = *deadline_;
        if (Clock::now() < deadline) {
            changed_.wait_until(lock, deadline);
            continue;  // the deadline may have moved or gone meanwhile
        }
        deadline_.reset();
        lock.unlock();
        onIdle_();
        return;
    }
}
