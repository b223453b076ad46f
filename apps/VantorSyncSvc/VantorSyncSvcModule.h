#pragma once

#include <string>
#include <vector>

#include "apps/VantorSyncSvc/ModuleCommand.h"
#include "com/ManagementBus.h"

// The process shell of the service program: registration switches, the choice of
// mode from the registration, and the order in which the sync service and the
// management object start and stop.
class CVantorSyncSvcModule {
  public:
    // How long a local server stays after its last client has left the bus.
    static constexpr int kIdleExitDelayMs = 5000;

    enum class ServerMode {
        Service,      // started by systemd: notifications, system log, system bus
        LocalServer,  // started by bus activation or by hand: ends when idle
        Foreground,   // started by hand with -Foreground: runs until stopped
    };

    // The whole life of the process; returns its exit status.
    int run(const std::string& commandLine);

  private:
    int performRegistration(ModuleCommand command);
    int startModule();
    int runServer(ServerMode mode, ManagementBus::BusKind bus);

    // Where the metrics listener goes; empty: no metrics.
    std::string metricsAddress_;
    // Addresses of -Listen=, which replace the settings' for this run; empty: the settings.
    std::vector<std::string> listenAddresses_;
};

// The service program's own path, as the registration files name it.
std::string currentProgramPath();
