#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

// Counts the bus connections that have called the management object and are still
// on the bus. A caller is counted from its first call (any interface on the object's
// path) until the bus announces that its unique name has gone. Runs on the thread
// of the connection's event loop; onCountChanged is called there.
class ClientTracker {
  public:
    ClientTracker(sdbus::IConnection& connection, const std::string& objectPath,
                  std::function<void(size_t)> onCountChanged);

    ClientTracker(const ClientTracker&) = delete;
    ClientTracker& operator=(const ClientTracker&) = delete;

    size_t count() const { return clients_.size(); }

  private:
    void onCall(sdbus::Message& call);
    void onOwnerChanged(sdbus::Message& signal);
    bool stillOnBus(const std::string& uniqueName);
    void forget(const std::string& uniqueName);

    sdbus::IConnection& connection_;
    std::function<void(size_t)> onCountChanged_;
    std::unique_ptr<sdbus::IProxy> busDaemon_;
    std::map<std::string, sdbus::Slot> clients_;
    // A match cannot be removed from inside its own callback; slots of clients that
    // have left wait here until the next callback of another match.
    std::vector<sdbus::Slot> retired_;
    sdbus::Slot callMatch_;
};
