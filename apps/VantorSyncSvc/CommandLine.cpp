#include "apps/VantorSyncSvc/CommandLine.h"

#include <strings.h>

std::string joinCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

bool hasSwitch(const std::string& commandLine, const std::string& word) {
    for (size_t i = 0; i < commandLine.size(); ++i) {
        if (commandLine[i] != '-' && commandLine[i] != '/')
            continue;
        size_t start = i + 1;
        size_t end = commandLine.find_first_of(" \t", start);
        if (end == std::string::npos)
            end = commandLine.size();
        if (end - start == word.size() &&
            strncasecmp(commandLine.c_str() + start, word.c_str(), word.size()) == 0) {
            return true;
        }
    }
    return false;
}
