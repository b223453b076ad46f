#include "apps/VantorSyncSvc/ServiceState.h"

#include <unistd.h>

#include "apps/VantorSyncSvc/SyncService.h"

namespace ServiceState {

std::string serverStateLine(SyncService& service) {
    const std::string folder = "VantorSyncSvc: data folder " + service.dataFolder();
    if (service.isRunning()) {
        return folder + ", listening on port " + std::to_string(service.listeningPort()) + " (" +
               service.listenDescription() +
               (service.hasInheritedListeners() ? "; sockets from systemd" : "") + ")";
    }
    const std::string failure = service.serverFailure();
    if (failure.empty())
        return folder + ", HTTP server stopped; sync is not served";
    return folder + ", HTTP server not started: " + failure + "; sync is not served";
}

BusNameProblem classifyBusError(const std::string& errorName, const std::string& message) {
    auto mentions = [&](const char* word) {
        return errorName.find(word) != std::string::npos || message.find(word) != std::string::npos;
    };
    // sd-bus turns the daemon's answers into errno names: EEXIST when the name has
    // another owner, EACCES or EPERM when the policy refuses it.
    if (mentions("EEXIST") || mentions("File exists"))
        return BusNameProblem::HeldByAnother;
    if (mentions("EACCES") || mentions("EPERM") || mentions("AccessDenied") ||
        mentions("ermission denied"))
        return BusNameProblem::Denied;
    return BusNameProblem::Other;
}

std::string busProblemText(BusNameProblem problem, ManagementBus::BusKind bus,
                           const std::string& detail) {
    const std::string where = std::string("the ") + ManagementBus::busKindName(bus) + " bus";
    switch (problem) {
        case BusNameProblem::HeldByAnother:
            return std::string("another instance of VantorSyncSvc holds the name ") +
                   ManagementBus::kServiceName + " on " + where +
                   ": stop it first (\"systemctl stop VantorSyncSvc\", or end the copy "
                   "started by hand)";
        case BusNameProblem::Denied:
            return where + " does not let user id " + std::to_string(::getuid()) + " own " +
                   ManagementBus::kServiceName + " (" + detail +
                   "): its policy file com.mailvane.VantorSyncSvc.conf is missing or has not "
                   "been loaded yet";
        case BusNameProblem::Other:
            break;
    }
    return "management interface unavailable on " + where + ": " + detail;
}

}  // namespace ServiceState
