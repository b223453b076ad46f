#include "apps/VantorSyncSvc/ServiceEvents.h"

#include <syslog.h>
#include <systemd/sd-daemon.h>

#include <cstdio>

namespace ServiceEvents {

void logEvent(const std::string& message, bool alsoToStandardOutput) {
    if (alsoToStandardOutput) {
        std::printf("%s\n", message.c_str());
        std::fflush(stdout);
    }
    openlog("VantorSyncSvc", LOG_PID, LOG_DAEMON);
    syslog(LOG_INFO, "%s", message.c_str());
    closelog();
}

void reportFailure(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    openlog("VantorSyncSvc", LOG_PID, LOG_DAEMON);
    syslog(LOG_ERR, "%s", message.c_str());
    closelog();
}

void notifyReady(const std::string& status) {
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void notifyStopping(const std::string& status) {
    sd_notifyf(0, "STOPPING=1\nSTATUS=%s", status.c_str());
}

void notifyStatus(const std::string& status) {
    sd_notifyf(0, "STATUS=%s", status.c_str());
}

}  // namespace ServiceEvents
