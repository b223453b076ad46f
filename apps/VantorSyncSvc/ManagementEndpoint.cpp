#include "apps/VantorSyncSvc/ManagementEndpoint.h"

ManagementEndpoint::ManagementEndpoint(ManagementBus::BusKind bus,
                                       std::function<void(size_t)> onClientCount)
    : connection_(ManagementBus::connect(bus)) {
    if (onClientCount) {
        tracker_ = std::make_unique<ClientTracker>(*connection_, ManagementBus::kObjectPath,
                                                   std::move(onClientCount));
    }
    object_ = std::make_unique<VantorSync>(*connection_, ManagementBus::kObjectPath);
    connection_->requestName(ManagementBus::kServiceName);
}

ManagementEndpoint::~ManagementEndpoint() {
    object_.reset();
    try {
        connection_->releaseName(ManagementBus::kServiceName);
    } catch (...) {
        // The name goes with the connection in any case.
    }
    tracker_.reset();
}

void ManagementEndpoint::run() {
    connection_->enterEventLoop();
}

void ManagementEndpoint::quit() {
    connection_->leaveEventLoop();
}
