#pragma once

#include <string>

// The service's reports to the outside: information lines for the system log and
// status for systemd. Both are silent when there is nobody to receive them.
namespace ServiceEvents {

// One information line in the system log under the ident "VantorSyncSvc"; when
// alsoToStandardOutput, the same text is printed as a line on standard output.
void logEvent(const std::string& message, bool alsoToStandardOutput);

// A failure that ends the process: one line on standard error and in the system log.
void reportFailure(const std::string& message);

// systemd notifications; they do nothing when the process was not started by systemd.
void notifyReady(const std::string& status);
void notifyStopping(const std::string& status);
void notifyStatus(const std::string& status);

}  // namespace ServiceEvents
