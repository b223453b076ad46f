#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apps/VantorSyncSvc/CommandLine.h"
#include "apps/VantorSyncSvc/SyncService.h"
#include "platform/FileLimit.h"

namespace {

// Runs the sync server until SIGTERM or SIGINT, then shuts it down in order.
int runForeground() {
    // Block the stop signals before any thread starts, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    raiseOpenFileLimit();

    const char* bus = std::getenv("VANTORSYNC_BUS");
    bool management = !(bus != nullptr && std::strcmp(bus, "none") == 0);

    SyncService& service = SyncService::instance();
    service.startup();
    int port = service.getValues().port;
    if (service.isRunning()) {
        std::printf("VantorSyncSvc: data folder %s, listening on port %d\n",
                    service.dataFolder().c_str(), port);
    } else {
        std::printf(
            "VantorSyncSvc: data folder %s, HTTP server not started: port %d could not "
            "be bound (in use or not permitted)\n",
            service.dataFolder().c_str(), port);
    }
    if (management) {
        std::printf("VantorSyncSvc: management interface not available in this build\n");
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    service.shutdown();
    std::printf("VantorSyncSvc: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string commandLine = joinCommandLine(argc, argv);
    if (hasSwitch(commandLine, "Foreground"))
        return runForeground();
    std::fprintf(stderr,
                 "VantorSyncSvc: not registered. Run it with -Foreground, or register it as a "
                 "service with -Service.\n");
    return 2;
}
