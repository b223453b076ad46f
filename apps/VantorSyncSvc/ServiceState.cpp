#include "apps/VantorSyncSvc/ServiceState.h"

#include <unistd.h>

#include <cstdio>

#include "apps/VantorSyncSvc/SyncService.h"

namespace ServiceState {

std::string serverStateLine(SyncService& service) {
    int port = service.getValues().port;
    char line[512];
    if (service.isRunning()) {
        std::snprintf(line, sizeof line, "VantorSyncSvc: data folder %s, listening on port %d",
                      service.dataFolder().c_str(), port);
    } else if (!SyncService::isUsablePort(port)) {
        std::snprintf(line, sizeof line,
                      "VantorSyncSvc: data folder %s, HTTP server not started: port %d is "
                      "outside 1-65535; sync is not served",
                      service.dataFolder().c_str(), port);
    } else {
        std::snprintf(line, sizeof line,
                      "VantorSyncSvc: data folder %s, HTTP server not started: port %d could not "
                      "be bound (in use or not permitted); sync is not served",
                      service.dataFolder().c_str(), port);
    }
    return line;
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
