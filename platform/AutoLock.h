#pragma once

#include <mutex>

// Every shared object of the service guards its state with one re-entrant lock;
// a thread that already holds it may call other locked operations of the same object.
using CriticalSection = std::recursive_mutex;

class AutoLock {
  public:
    explicit AutoLock(CriticalSection& section) : section_(section) { section_.lock(); }
    ~AutoLock() { section_.unlock(); }

    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

  private:
    CriticalSection& section_;
};
