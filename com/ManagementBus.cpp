#include "com/ManagementBus.h"

#include <strings.h>

#include <cstdlib>

#include <sdbus-c++/Error.h>

namespace ManagementBus {

std::optional<BusKind> parseBusKind(const std::string& text) {
    if (strcasecmp(text.c_str(), "system") == 0)
        return BusKind::System;
    if (strcasecmp(text.c_str(), "session") == 0)
        return BusKind::Session;
    if (strcasecmp(text.c_str(), "none") == 0)
        return BusKind::None;
    return std::nullopt;
}

std::optional<BusKind> busKindFromEnvironment() {
    const char* text = std::getenv("VANTORSYNC_BUS");
    if (text == nullptr || *text == '\0')
        return BusKind::System;
    return parseBusKind(text);
}

CallFailure classifyError(const std::string& errorName) {
    if (errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        errorName == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
        errorName == "org.freedesktop.DBus.Error.NoReply" ||
        errorName == "org.freedesktop.DBus.Error.NoServer" ||
        errorName == "org.freedesktop.DBus.Error.Disconnected" ||
        errorName.rfind("org.freedesktop.DBus.Error.Spawn.", 0) == 0) {
        return CallFailure::Unreachable;
    }
    if (errorName == "org.freedesktop.DBus.Error.AccessDenied" ||
        errorName == "org.freedesktop.DBus.Error.AuthFailed" ||
        errorName == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired") {
        return CallFailure::NotPermitted;
    }
    return CallFailure::Other;
}

const char* busKindName(BusKind kind) {
    switch (kind) {
        case BusKind::System:
            return "system";
        case BusKind::Session:
            return "session";
        case BusKind::None:
            break;
    }
    return "none";
}

std::unique_ptr<sdbus::IConnection> connect(BusKind kind) {
    switch (kind) {
        case BusKind::System:
            return sdbus::createSystemBusConnection();
        case BusKind::Session:
            return sdbus::createSessionBusConnection();
        case BusKind::None:
            break;
    }
    throw sdbus::Error(kFailedError, "no bus was chosen");
}

}  // namespace ManagementBus
