#pragma once

#include <functional>
#include <memory>

#include <sdbus-c++/sdbus-c++.h>

#include "apps/VantorSyncSvc/ClientTracker.h"
#include "apps/VantorSyncSvc/VantorSyncObject.h"
#include "com/ManagementBus.h"

// The management object on its bus: one connection, the object registered at its
// path and then the service's name taken, so the name never exists without the
// object. Destruction removes the object first and then leaves the bus.
class ManagementEndpoint {
  public:
    // Throws sdbus::Error when the bus cannot be reached or the name is taken.
    // With onClientCount set, the callers of the object are counted (for the idle
    // exit of a local server) and every change of their number is reported.
    ManagementEndpoint(ManagementBus::BusKind bus, std::function<void(size_t)> onClientCount);
    ~ManagementEndpoint();

    ManagementEndpoint(const ManagementEndpoint&) = delete;
    ManagementEndpoint& operator=(const ManagementEndpoint&) = delete;

    // Serves calls on the calling thread until quit().
    void run();
    // May be called from any thread, also before run(), which then returns at once.
    void quit();

  private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<ClientTracker> tracker_;
    std::unique_ptr<VantorSync> object_;
};
