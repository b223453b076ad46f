#include "apps/VantorSyncSvc/ClientTracker.h"

namespace {

constexpr const char* kBusDaemonName = "org.freedesktop.DBus";
constexpr const char* kBusDaemonPath = "/org/freedesktop/DBus";

}  // namespace

ClientTracker::ClientTracker(sdbus::IConnection& connection, const std::string& objectPath,
                             std::function<void(size_t)> onCountChanged)
    : connection_(connection),
      onCountChanged_(std::move(onCountChanged)),
      busDaemon_(sdbus::createProxy(connection, kBusDaemonName, kBusDaemonPath)) {
    // A match sees the call before the object's handler does, whatever the interface
    // (property reads carry no caller through to the handler).
    callMatch_ = connection_.addMatch("type='method_call',path='" + objectPath + "'",
                                      [this](sdbus::Message& call) { onCall(call); });
}

void ClientTracker::onCall(sdbus::Message& call) {
    retired_.clear();
    std::string sender = call.getSender();
    if (sender.empty() || clients_.count(sender) != 0)
        return;
    try {
        std::string rule = std::string("type='signal',sender='") + kBusDaemonName +
                           "',interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
                           sender + "'";
        clients_.emplace(sender, connection_.addMatch(rule, [this](sdbus::Message& signal) {
            onOwnerChanged(signal);
        }));
        // A caller that left before the match was in place would otherwise be
        // counted for ever and keep the server alive.
        if (!stillOnBus(sender)) {
            forget(sender);
            return;
        }
    } catch (...) {
        // Without a match the caller could never be forgotten; it is not counted.
        clients_.erase(sender);
        return;
    }
    onCountChanged_(clients_.size());
}

void ClientTracker::onOwnerChanged(sdbus::Message& signal) {
    std::string name, oldOwner, newOwner;
    try {
        signal >> name >> oldOwner >> newOwner;
    } catch (...) {
        return;  // not the signal the rule asked for; nothing to learn from it
    }
    if (!newOwner.empty() || clients_.count(name) == 0)
        return;
    forget(name);
    onCountChanged_(clients_.size());
}

bool ClientTracker::stillOnBus(const std::string& uniqueName) {
    bool hasOwner = false;
    busDaemon_->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(uniqueName)
        .storeResultsTo(hasOwner);
    return hasOwner;
}

void ClientTracker::forget(const std::string& uniqueName) {
    auto client = clients_.find(uniqueName);
    if (client == clients_.end())
        return;
    retired_.push_back(std::move(client->second));
    clients_.erase(client);
}
