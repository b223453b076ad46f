#pragma once

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

// Starts a thread on a member function of target. start() returns only once the
// new thread has taken its arguments, so the starter may live on the caller's stack.
template <class T>
class ThreadStarter {
  public:
    using Member = void (T::*)();

    ThreadStarter(T* target, Member member) : target_(target), member_(member) {}
    virtual ~ThreadStarter() = default;

    ThreadStarter(const ThreadStarter&) = delete;
    ThreadStarter& operator=(const ThreadStarter&) = delete;

    // The running thread, or an unjoinable one when no thread could be created.
    std::thread start() {
        std::unique_lock<std::mutex> lock(mutex_);
        taken_ = false;
        std::thread thread;
        try {
            thread = std::thread(&ThreadStarter::entry, this);
        } catch (const std::system_error&) {
            return std::thread();
        }
        takenSignal_.wait(lock, [this] { return taken_; });
        return thread;
    }

  private:
    static void entry(ThreadStarter* starter) {
        T* target;
        Member member;
        {
            // Notified under the lock: the starter may be gone the moment it is released.
            std::lock_guard<std::mutex> lock(starter->mutex_);
            target = starter->target_;
            member = starter->member_;
            starter->taken_ = true;
            starter->takenSignal_.notify_one();
        }
        (target->*member)();
    }

    T* target_;
    Member member_;
    std::mutex mutex_;
    std::condition_variable takenSignal_;
    bool taken_ = false;
};
