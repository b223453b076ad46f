#include "apps/VantorSyncSvc/VantorSyncSvcModule.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "BuildInfo.h"
#include "apps/VantorSyncSvc/IdleMonitor.h"
#include "apps/VantorSyncSvc/ListenChoice.h"
#include "apps/VantorSyncSvc/ManagementEndpoint.h"
#include "apps/VantorSyncSvc/Registration.h"
#include "apps/VantorSyncSvc/ServiceEvents.h"
#include "apps/VantorSyncSvc/ServiceMetrics.h"
#include "apps/VantorSyncSvc/ServiceState.h"
#include "apps/VantorSyncSvc/StopSignals.h"
#include "apps/VantorSyncSvc/SyncService.h"
#include "apps/VantorSyncSvc/SystemAccount.h"
#include "config/ListenAddresses.h"
#include "config/SystemDataFolder.h"
#include "platform/Event.h"
#include "platform/FileLimit.h"

#include <sdbus-c++/Error.h>

namespace {

// systemd names every unit's run and hands a notify socket to Type=notify services.
// An entry that looks like an address but is not one locks out the clients it was meant
// for (it matches nobody), so the administrator hears of it whenever the file is read.
void reportMalformedAccessEntries(SyncService& service, bool alsoToStandardOutput) {
    for (const std::string& line : service.malformedAddressEntries()) {
        ServiceEvents::logEvent("VantorSyncSvc: " + line +
                                    "; it matches no client, and until it is corrected only "
                                    "clients matching another address entry get any rights",
                                alsoToStandardOutput);
    }
    for (const std::string& line : service.malformedTrustedProxies()) {
        ServiceEvents::logEvent("VantorSyncSvc: " + line + "; it trusts no peer",
                                alsoToStandardOutput);
    }
}

bool startedBySystemd() {
    for (const char* name : {"INVOCATION_ID", "NOTIFY_SOCKET"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

// The management object on its bus. At a first install the bus may still be reading the
// policy that lets the service's account own the name, so a service that is refused
// tries again for a while, and says so, before it gives up.
std::unique_ptr<ManagementEndpoint> openEndpoint(bool serviceMode, ManagementBus::BusKind bus,
                                                 const std::function<void(size_t)>& onClientCount,
                                                 std::string& failure) {
    constexpr int kAttempts = 10;
    for (int attempt = 1;; ++attempt) {
        try {
            return std::make_unique<ManagementEndpoint>(bus, onClientCount);
        } catch (const sdbus::Error& error) {
            auto problem = ServiceState::classifyBusError(error.getName(), error.getMessage());
            failure = ServiceState::busProblemText(problem, bus, error.getMessage());
            if (!serviceMode || problem != ServiceState::BusNameProblem::Denied ||
                attempt == kAttempts) {
                return nullptr;
            }
            if (attempt == 1) {
                ServiceEvents::reportFailure("VantorSyncSvc: " + failure + "; trying again for " +
                                             std::to_string(kAttempts - 1) + " s");
                ServiceEvents::notifyStatus("Waiting for the bus policy: " + failure);
            }
        } catch (const std::exception& error) {
            failure = std::string("management interface unavailable on the ") +
                      ManagementBus::busKindName(bus) + " bus: " + error.what();
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

}  // namespace

std::string currentProgramPath() {
    std::string path(4096, '\0');
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return std::string();
    path.resize(static_cast<size_t>(length));
    return path;
}

int CVantorSyncSvcModule::run(const std::string& commandLine) {
    ModuleCommand command = chooseModuleCommand(commandLine);
    metricsAddress_ = ServiceMetrics::requestedAddress(commandLine);
    std::string listenText;
    if (ListenChoice::requestedAddresses(commandLine, listenText)) {
        std::string why;
        if (!ListenAddresses::parse(listenText, listenAddresses_, why)) {
            std::fprintf(stderr, "VantorSyncSvc: -Listen=: %s\n", why.c_str());
            return 2;
        }
    }
    switch (command) {
        case ModuleCommand::Help:
            std::printf("%s", kServiceUsage);
            return 0;
        case ModuleCommand::Version:
            std::printf("VantorSyncSvc %s\n", BuildInfo::kVersion);
            return 0;
        case ModuleCommand::UnregServer:
        case ModuleCommand::RegServer:
        case ModuleCommand::Service:
            return performRegistration(command);
        case ModuleCommand::Foreground: {
            std::optional<ManagementBus::BusKind> bus = ManagementBus::busKindFromEnvironment();
            if (!bus) {
                std::fprintf(stderr,
                             "VantorSyncSvc: VANTORSYNC_BUS must be session, system or none\n");
                return 2;
            }
            return runServer(ServerMode::Foreground, *bus);
        }
        case ModuleCommand::Start:
            break;
    }
    return startModule();
}

int CVantorSyncSvcModule::performRegistration(ModuleCommand command) {
    std::string root = installRootFromEnvironment();
    SystemctlServiceManager systemctl;
    bool tellSystemd = isSystemRoot(root) && systemdIsRunning();
    Registration registration(root, currentProgramPath(), tellSystemd ? &systemctl : nullptr);
    if (isSystemRoot(root)) {
        registration.setPackageOwner(debianPackageOwning);
        registration.setAccountStep([](const std::string& sysusersFile, std::string& error) {
            return SystemAccount::ensure(sysusersFile, SystemDataFolder::kFolder, error);
        });
    }
    bool done = false;
    switch (command) {
        case ModuleCommand::Service:
            done = registration.registerService();
            break;
        case ModuleCommand::RegServer:
            done = registration.registerLocalServer();
            break;
        default:
            done = registration.unregister();
            break;
    }
    for (const std::string& error : registration.errors()) {
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    return done ? 0 : 1;
}

int CVantorSyncSvcModule::startModule() {
    switch (readRegisteredMode(installRootFromEnvironment())) {
        case RegisteredMode::Service:
            // A second copy beside systemd's would fight it for the port and the bus name.
            if (!startedBySystemd()) {
                std::fprintf(stderr,
                             "VantorSyncSvc: registered as a systemd service, so it is started "
                             "by systemd: use \"systemctl start VantorSyncSvc\". To run a copy "
                             "by hand, use -Foreground.\n");
                return 2;
            }
            // Started by systemd: always the system bus, whatever the environment says.
            return runServer(ServerMode::Service, ManagementBus::BusKind::System);
        case RegisteredMode::LocalServer: {
            std::optional<ManagementBus::BusKind> bus = ManagementBus::busKindFromEnvironment();
            if (!bus) {
                std::fprintf(stderr,
                             "VantorSyncSvc: VANTORSYNC_BUS must be session, system or none\n");
                return 2;
            }
            return runServer(ServerMode::LocalServer, *bus);
        }
        case RegisteredMode::NotRegistered:
            break;
    }
    std::fprintf(stderr,
                 "VantorSyncSvc: not registered. Register it as a service with "
                 "\"sudo VantorSyncSvc -Service\", for bus activation with -RegServer, or run "
                 "it without registration with -Foreground.\n");
    return 2;
}

int CVantorSyncSvcModule::runServer(ServerMode mode, ManagementBus::BusKind bus) {
    // Before any thread exists, so that only the watcher (or sigwait below) sees them.
    StopSignals::block();
    signal(SIGPIPE, SIG_IGN);
    // At a file-size limit a write must fail with EFBIG (a failed push), not end the service.
    signal(SIGXFSZ, SIG_IGN);
    raiseOpenFileLimit();
    const bool serviceMode = mode == ServerMode::Service;

    SyncService& service = SyncService::instance();
    std::string folder = service.dataFolder();
    std::string folderError;
    if (!SystemDataFolder::resolve(
            folder, bus == ManagementBus::BusKind::System && SystemDataFolder::isSystemAccount(),
            folderError)) {
        ServiceEvents::reportFailure("VantorSyncSvc: " + folderError);
        return 2;
    }
    service.setDataFolder(folder);
    std::vector<std::string> notes;
    service.useInheritedListeners(ListenChoice::takeSystemdSockets(notes));
    service.overrideListenAddresses(listenAddresses_);
    for (const std::string& note : notes)
        ServiceEvents::logEvent("VantorSyncSvc: " + note, !serviceMode);
    if (!service.startup())
        return 2;  // no shutdown: it would save over the files that could not be read
    std::string state = ServiceState::serverStateLine(service);
    std::printf("%s\n", state.c_str());
    ServiceMetrics metrics;
    if (!metricsAddress_.empty()) {
        std::string error;
        if (metrics.start(metricsAddress_, error)) {
            std::printf("VantorSyncSvc: metrics on http://%s/metrics\n",
                        metrics.boundAddress().c_str());
        } else {
            // Like a sync port that cannot be bound: the service runs on without it.
            std::printf("VantorSyncSvc: %s; running without metrics\n", error.c_str());
        }
    }
    std::fflush(stdout);
    reportMalformedAccessEntries(service, !serviceMode);
    if (service.hasInheritedListeners()) {
        ServiceEvents::logEvent(
            "VantorSyncSvc: serving the sockets systemd listens on (VantorSyncSvc.socket); the "
            "port and listen_addresses settings are kept but not used while it does: change "
            "where it listens with \"systemctl edit VantorSyncSvc.socket\"",
            !serviceMode);
    }

    // The idle monitor's time-out reaches the endpoint, so the monitor is always
    // destroyed before the endpoint. Client counts arrive only from the endpoint's
    // event loop, which runs after the monitor exists.
    std::unique_ptr<ManagementEndpoint> endpoint;
    std::unique_ptr<IdleMonitor> idleMonitor;
    std::function<void(size_t)> onClientCount;
    if (mode == ServerMode::LocalServer) {
        onClientCount = [&idleMonitor](size_t count) { idleMonitor->clientCountChanged(count); };
    }
    if (bus != ManagementBus::BusKind::None) {
        std::string failure;
        endpoint = openEndpoint(serviceMode, bus, onClientCount, failure);
        if (!endpoint && mode != ServerMode::Foreground) {
            // A local server nobody can reach would never end; a service without its
            // name could never be managed, so it ends and systemd's Restart= tries again.
            ServiceEvents::reportFailure("VantorSyncSvc: " + failure +
                                         (serviceMode
                                              ? "; the service cannot be managed without it, ending"
                                              : "; a local server cannot run without it, ending"));
            metrics.stop();
            service.shutdown();
            return 1;
        }
        if (!endpoint)
            std::printf("VantorSyncSvc: %s\n", failure.c_str());
    } else {
        std::printf("VantorSyncSvc: management interface switched off (VANTORSYNC_BUS=none)\n");
    }
    if (!endpoint && !service.isRunning()) {
        ServiceEvents::reportFailure(
            "VantorSyncSvc: the HTTP sync server did not start and there is no management "
            "interface to start it later, so nothing would ever be served; ending");
        metrics.stop();
        service.shutdown();
        return 1;
    }
    std::fflush(stdout);

    if (serviceMode) {
        ServiceEvents::logEvent("Service started", false);
        ServiceEvents::notifyReady(state);
    }

    if (mode == ServerMode::LocalServer && endpoint) {
        idleMonitor = std::make_unique<IdleMonitor>(std::chrono::milliseconds(kIdleExitDelayMs),
                                                    [&endpoint] { endpoint->quit(); });
    }
    auto reload = [&service, serviceMode] {
        const std::string path = service.dataFolder() + "config.xml";
        std::string why;
        ServiceEvents::logEvent(
            service.reloadConfig(why)
                ? "VantorSyncSvc: configuration read again from " + path +
                      "; a new port, listen addresses and log settings take effect at the next "
                      "start"
                : "VantorSyncSvc: configuration not read again from " + path + ": " + why +
                      "; the settings are unchanged",
            !serviceMode);
        reportMalformedAccessEntries(service, !serviceMode);
    };

    if (endpoint) {
        Event stopRequested;
        StopSignalWatcher watcher(
            [&endpoint, &stopRequested] {
                stopRequested.set();
                endpoint->quit();
            },
            reload);
        try {
            endpoint->run();
        } catch (const std::exception& error) {
            // The bus went away under us; the sync server carries on until stopped.
            std::printf("VantorSyncSvc: management interface lost: %s\n", error.what());
            std::fflush(stdout);
            idleMonitor.reset();
            stopRequested.wait();
        }
    } else {
        StopSignals::waitForStop(reload);
    }
    idleMonitor.reset();

    if (serviceMode)
        ServiceEvents::notifyStopping("Stopping");
    metrics.stop();
    service.shutdown();
    endpoint.reset();
    if (serviceMode)
        ServiceEvents::logEvent("Service stopped", false);
    std::printf("VantorSyncSvc: stopped\n");
    std::fflush(stdout);
    return 0;
}
