// Choosing the service's per-account data folder.
#include "config/Settings.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/FileSystem.h"

namespace {

const char kServiceName[] = "VantorSyncSvc";

std::string environment(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Only absolute paths count: a relative one would name a folder below whatever the
// current folder happens to be (the XDG rules say to ignore such values).
std::string absolutePath(const std::string& value) {
    return !value.empty() && value[0] == '/' ? value : std::string();
}

// The base folders in order of preference; an entry is empty when it cannot be determined.
std::vector<std::string> candidateBases() {
    std::string home = absolutePath(environment("HOME"));
    auto orHome = [&home](const std::string& variable, const char* belowHome) {
        std::string value = absolutePath(variable);
        if (!value.empty())
            return value;
        return home.empty() ? std::string() : home + belowHome;
    };
    return {orHome(environment("XDG_CONFIG_HOME"), "/.config"),
            orHome(environment("XDG_DATA_HOME"), "/.local/share"),
            home.empty() ? std::string() : home + "/Documents"};
}

bool pathExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace

bool Settings::probeFolderWritable(const std::string& folder) {
    std::string path = folder + "check.txt";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool written = std::fwrite("1", 1, 1, file) == 1;
    if (std::fclose(file) != 0)
        written = false;
    std::remove(path.c_str());
    return written;
}

std::string Settings::selectDataFolder() {
    std::string formed;
    for (const std::string& base : candidateBases()) {
        if (base.empty())
            continue;
        std::string trimmed = base;
        while (trimmed.size() > 1 && trimmed.back() == '/')
            trimmed.pop_back();
        if (trimmed == "/")
            trimmed.clear();
        formed = trimmed + "/" + kServiceName + "/";
        if (!pathExists(formed)) {
            // A fresh account may lack the base folder itself, so create parents as well.
            if (!FileSystem::createFolders(formed.substr(0, formed.size() - 1)))
                continue;
        }
        if (FileSystem::folderExists(formed) && probeFolderWritable(formed))
            return formed;
    }
    return formed;
}
