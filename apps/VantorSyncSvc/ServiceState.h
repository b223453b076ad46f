#pragma once

#include <string>

#include "com/ManagementBus.h"

class SyncService;

// What the service says about its own state, in the words an administrator acts on:
// on standard output, in the journal and as systemd's STATUS line.
namespace ServiceState {

// The data folder and whether the HTTP sync server listens, or why it does not.
std::string serverStateLine(SyncService& service);

// Why the management name could not be taken.
enum class BusNameProblem {
    HeldByAnother,  // another process owns the name: a second copy of the server
    Denied,         // the bus policy does not let this account own it (yet)
    Other,          // the bus cannot be reached, or anything else
};

// From the error the bus library reported.
BusNameProblem classifyBusError(const std::string& errorName, const std::string& message);

// One line that says what happened and what to do; detail is the library's own text.
std::string busProblemText(BusNameProblem problem, ManagementBus::BusKind bus,
                           const std::string& detail);

}  // namespace ServiceState
