#pragma once

// Tests stand this in for the file layer to hold a save on its way to the disk: once
// armed, the next fsync (of a file whose path contains the given part) waits until
// released, and the test learns when it waits; it may then fail as a bad disk would.

#include <limits.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/FileOps.h"
#include "tests/support/DescriptorPath.h"

class HeldSyncOps : public FileOps {
  public:
    HeldSyncOps() { setFileOps(this); }
    ~HeldSyncOps() override { setFileOps(nullptr); }
    HeldSyncOps(const HeldSyncOps&) = delete;
    HeldSyncOps& operator=(const HeldSyncOps&) = delete;

    void arm(const std::string& pathPart = "", bool fail = false) {
        std::lock_guard<std::mutex> guard(mutex_);
        armed_ = true;
        held_ = released_ = false;
        pathPart_ = pathPart;
        fail_ = fail;
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
            if (armed_ && descriptorPath(fd).find(pathPart_) != std::string::npos) {
                armed_ = false;
                held_ = true;
                changed_.notify_all();
                changed_.wait(guard, [this] { return released_; });
                if (fail_)
                    return -1;
            }
        }
        return FileOps::sync(fd);
    }

  private:
    std::mutex mutex_;
    std::string pathPart_;
    bool fail_ = false;
    std::condition_variable changed_;
    bool armed_ = false;
    bool held_ = false;
    bool released_ = false;
};
