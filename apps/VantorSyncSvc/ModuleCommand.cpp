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

ModuleCommand chooseModuleCommand(const std::string& commandLine) {
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
