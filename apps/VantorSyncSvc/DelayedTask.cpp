#include "apps/VantorSyncSvc/DelayedTask.h"

DelayedTask::DelayedTask(std::chrono::milliseconds delay, std::function<void()> task)
    : delay_(delay), task_(std::move(task)) {}

DelayedTask::~DelayedTask() {
    stop();
}

void DelayedTask::schedule() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_)
        return;
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    if (!due_) {
        due_ = true;
        wake_.notify_one();
    }
}

void DelayedTask::stop() {
    std::thread finishing;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!thread_.joinable())
            return;
        stopping_ = true;
        finishing = std::move(thread_);
        wake_.notify_one();
    }
    finishing.join();
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = false;
    due_ = false;
}

void DelayedTask::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return due_ || stopping_; });
        if (stopping_)
            return;
        const auto deadline = std::chrono::steady_clock::now() + delay_;
        if (wake_.wait_until(lock, deadline, [this] { return stopping_; }))
            return;
        due_ = false;
        lock.unlock();
        task_();
        lock.lock();
    }
}
