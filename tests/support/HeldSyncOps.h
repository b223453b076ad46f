#pragma once

// Tests stand this in for the file layer to hold a save on its way to the disk: once
// armed, the next fsync waits until released, and the test learns when it waits.

#include <condition_variable>
#include <mutex>

#include "platform/FileOps.h"

class HeldSyncOps : public FileOps {
  public:
    HeldSyncOps() { setFileOps(this); }
    ~HeldSyncOps() override { setFileOps(nullptr); }
    HeldSyncOps(const HeldSyncOps&) = delete;
    HeldSyncOps& operator=(const HeldSyncOps&) = delete;

    void arm() {
        std::lock_guard<std::mutex> guard(mutex_);
        armed_ = true;
        held_ = released_ = false;
    }
    void waitUntilHeld() {
        std::unique_lock<std::mutex> guard(mutex_);
        changed_.wait(guard, [this] { return held_; });
    }
    void release() {
        std::lock_guard<std::mutex> guard(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    int sync(int fd) override {
        {
            std::unique_lock<std::mutex> guard(mutex_);
            if (armed_) {
                armed_ = false;
                held_ = true;
                changed_.notify_all();
                changed_.wait(guard, [this] { return released_; });
            }
        }
        return FileOps::sync(fd);
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    bool held_ = false;
    bool released_ = false;
};
