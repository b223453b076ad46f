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
        ProxiesGet,
        ProxiesSet,
        Export,
        Import,
        Backup,
        Verify,
        Restore,
        ListenShow,
        ListenSet,
    };

    Action action = Action::Help;
    // The file of "config get FILE" (empty: standard output) or "config put FILE"; the
    // folder of "export DIR" or the file of "import FILE" ("-": standard output or input);
    // the folder of "backup DIR", "verify [DIR]" (empty: the live data folder), "restore DIR".
    std::string file;
    // The addresses and prefixes of "trusted-proxies set" (none: trust no proxy).
    std::vector<std::string> proxies;
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
