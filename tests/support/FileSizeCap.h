#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <csignal>

// Caps the size of any file this process writes, as a full disk would; writes past the
// cap fail with EFBIG instead of raising SIGXFSZ. The previous limit returns with scope.
class FileSizeCap {
  public:
    explicit FileSizeCap(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit capped = previous_;
        capped.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeCap(const FileSizeCap&) = delete;
    FileSizeCap& operator=(const FileSizeCap&) = delete;

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};
