#include "apps/VantorSyncSvc/ModuleCommand.h"

#include <strings.h>

#include <cstring>

int firstSwitchOf(const std::string& commandLine, std::initializer_list<const char*> words) {
    for (size_t i = 0; i < commandLine.size(); ++i) {
        if (commandLine[i] != '-' && commandLine[i] != '/')
            continue;
        size_t start = i + 1;
        size_t end = commandLine.find_first_of(" \t", start);
        if (end == std::string::npos)
            end = commandLine.size();
        size_t length = end - start;
        int index = 0;
        for (const char* word : words) {
            if (std::strlen(word) == length &&
                strncasecmp(commandLine.c_str() + start, word, length) == 0) {
                return index;
            }
            ++index;
        }
    }
    return -1;
}

const char* const kServiceUsage =
    "Usage: VantorSyncSvc [-Service | -RegServer | -UnregServer | -Foreground] [-Metrics=ADDRESS]\n"
    "                     [-Listen=ADDRESSES]\n"
    "The Mailvane synchronization server: HTTP sync port, management on D-Bus.\n"
    "\n"
    "  -Service       install as the systemd service VantorSyncSvc (run as root)\n"
    "  -RegServer     register for D-Bus activation as a local server\n"
    "  -UnregServer   remove the registration and the service\n"
    "  -Foreground    run now, without registration, until stopped\n"
    "  -Metrics=HOST:PORT\n"
    "                 serve Prometheus metrics on HOST:PORT (also $VANTORSYNC_METRICS)\n"
    "  -Listen=ADDRESS[,ADDRESS...]\n"
    "                 listen on these IPv4/IPv6 addresses for this run instead of the\n"
    "                 listen_addresses setting (sockets from systemd take precedence)\n"
    "  --help, --version\n"
    "\n"
    "Without a switch the registration decides how the program runs. Environment:\n"
    "VANTORSYNC_BUS (system, session or none), VANTORSYNC_ROOT (install root of the\n"
    "registration files), XDG_CONFIG_HOME (parent of the data folder VantorSyncSvc).\n";

ModuleCommand chooseModuleCommand(const std::string& commandLine) {
    switch (firstSwitchOf(commandLine, {"help", "h", "version"})) {
        case 0:
        case 1:
            return ModuleCommand::Help;
        case 2:
            return ModuleCommand::Version;
        default:
            break;
    }
    switch (firstSwitchOf(commandLine, {"UnregServer", "RegServer"})) {
        case 0:
            return ModuleCommand::UnregServer;
        case 1:
            return ModuleCommand::RegServer;
        default:
            break;
    }
    if (firstSwitchOf(commandLine, {"Service"}) == 0)
        return ModuleCommand::Service;
    if (firstSwitchOf(commandLine, {"Foreground"}) == 0)
        return ModuleCommand::Foreground;
    return ModuleCommand::Start;
}
