#pragma once

// Every shared object of the service guards its state with one re-entrant lock;
// a thread that already holds it may call other locked operations of the same object.
// The lock is a class of its own, not std::recursive_mutex itself, so that clang's
// thread-safety analysis can treat it as a capability.

#include <mutex>

#include "platform/ThreadAnnotations.h"

class CAPABILITY("mutex") CriticalSection {
  public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Lock() ACQUIRE() { mutex_.lock(); }
    void Unlock() RELEASE() { mutex_.unlock(); }
    bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // BasicLockable, for std::condition_variable_any, which releases and retakes the lock
    // while it waits: to the analysis the lock stays held across the wait.
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

  private:
    std::recursive_mutex mutex_;
};

class SCOPED_CAPABILITY AutoLock {
  public:
    explicit AutoLock(CriticalSection& section) ACQUIRE(section) : section_(section) {
        section_.Lock();
    }
    ~AutoLock() RELEASE() { section_.Unlock(); }

    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

  private:
    CriticalSection& section_;
};
