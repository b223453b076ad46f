#include "apps/VantorSyncSvc/StopSignals.h"

#include <signal.h>

namespace {

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

namespace StopSignals {

void block() {
    sigset_t set = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void wait() {
    sigset_t set = stopSignalSet();
    int received = 0;
    sigwait(&set, &received);  // fails only for an invalid set
}

}  // namespace StopSignals

StopSignalWatcher::StopSignalWatcher(std::function<void()> onStop)
    : onStop_(std::move(onStop)), thread_([this] {
          StopSignals::wait();
          if (!finishing_)
              onStop_();
      }) {}

StopSignalWatcher::~StopSignalWatcher() {
    finishing_ = true;
    // A signal aimed at this thread alone ends its wait; being blocked everywhere,
    // it reaches nobody else.
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
}
