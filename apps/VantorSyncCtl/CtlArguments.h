#pragma once

#include <optional>
#include <string>
#include <vector>

#include "com/ManagementBus.h"

// What one run of VantorSyncCtl was asked to do.
struct CtlArguments {
    enum class Action {
        Help,
        Version,
        Status,
        Start,
        Stop,
        Stats,
        ConfigGet,
        ConfigPut,
        ClearWhitelist,
        ClearTrainingDb,
        Folder,
        ListenShow,
        ListenSet,
    };

    Action action = Action::Help;
    // The file of "config get FILE" (empty: standard output) or "config put FILE".
    std::string file;
    // The addresses of "listen ADDRESS...", joined by commas.
    std::string listen;
    ManagementBus::BusKind bus = ManagementBus::BusKind::System;
    // Set when the arguments make no sense; then nothing else is to be trusted.
    std::string error;
};

// Reads the arguments after the program name. The bus comes from "--bus" (or
// "--bus=KIND"), else from $VANTORSYNC_BUS, else it is the system bus.
CtlArguments parseCtlArguments(const std::vector<std::string>& arguments);

extern const char* const kCtlUsage;
