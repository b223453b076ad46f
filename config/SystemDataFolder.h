#pragma once

#include <string>

// An account without HOME or XDG folders (the system bus starts a bus-activated server
// that way) would otherwise put config.xml, the stores and the logs into the current
// folder, "/" for a daemon. Such a folder is never used: the machine's own account on the
// system bus gets the fixed system folder, and anything else is refused with a reason.
namespace SystemDataFolder {

constexpr const char* kFolder = "/var/lib/VantorSyncSvc/";
// The account a packaged service runs as.
constexpr const char* kServiceUser = "vantorsync";

// True for root and for the service's own account.
bool isSystemAccount();

// Keeps an absolute folder that exists and can be written, and refuses any other with the
// reason. An empty or relative one becomes systemFolder (created
// if missing and probed) when allowed, else false with the reason in error.
bool resolve(std::string& folder, bool systemAccountOnSystemBus, std::string& error,
             const std::string& systemFolder = kFolder);

}  // namespace SystemDataFolder
