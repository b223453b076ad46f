#pragma once

#include <memory>
#include <optional>
#include <string>

#include <sdbus-c++/IConnection.h>

// Where the management object lives and how both programs reach its bus.
namespace ManagementBus {

constexpr const char* kServiceName = "com.mailvane.VantorSyncSvc";
constexpr const char* kObjectPath = "/com/mailvane/VantorSync";
constexpr const char* kInterfaceName = "com.mailvane.IVantorSync";
// The one error the service answers with when an operation fails.
constexpr const char* kFailedError = "com.mailvane.Error.Failed";

enum class BusKind { System, Session, None };

// "system", "session" or "none" in any letter case; nothing for any other text.
std::optional<BusKind> parseBusKind(const std::string& text);
// The bus named by $VANTORSYNC_BUS; the system bus when it is unset or empty,
// nothing when it names no bus kind.
std::optional<BusKind> busKindFromEnvironment();
const char* busKindName(BusKind kind);

// What a failed call means to the person who made it.
enum class CallFailure {
    Unreachable,   // nobody answers for the service's name on this bus
    NotPermitted,  // the bus's policy does not let this user call the service
    Other,         // the service answered with an error of its own
};
CallFailure classifyError(const std::string& errorName);

// Who the registered bus policy lets manage the service, for messages to people refused.
constexpr const char* kWhoMayManage =
    "root, users logged in at the machine's console and members of the groups sudo and adm";

// A new connection to the bus; throws sdbus::Error when it cannot be reached.
// kind must not be None.
std::unique_ptr<sdbus::IConnection> connect(BusKind kind);

}  // namespace ManagementBus
