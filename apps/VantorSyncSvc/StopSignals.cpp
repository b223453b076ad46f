#include "apps/VantorSyncSvc/StopSignals.h"

#include <signal.h>

namespace {

sigset_t handledSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

namespace StopSignals {

void block() {
    sigset_t set = handledSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int wait() {
    sigset_t set = handledSignalSet();
    int received = SIGTERM;
    sigwait(&set, &received);  // fails only for an invalid set
    return received;
}

void waitForStop(const std::function<void()>& onReload) {
    while (wait() == SIGHUP) {
        if (onReload)
            onReload();
    }
}

}  // namespace StopSignals

StopSignalWatcher::StopSignalWatcher(std::function<void()> onStop, std::function<void()> onReload)
    : onStop_(std::move(onStop)), onReload_(std::move(onReload)), thread_([this] {
          for (;;) {
              const int received = StopSignals::wait();
              if (finishing_)
                  return;
              if (received != SIGHUP) {
                  onStop_();
                  return;
              }
              if (onReload_)
                  onReload_();
          }
      }) {}

StopSignalWatcher::~StopSignalWatcher() {
    finishing_ = true;
    // A signal aimed at this thread alone ends its wait; being blocked everywhere,
    // it reaches nobody else.
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
}
