#include "config/SystemDataFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "config/Settings.h"
#include "platform/FileSystem.h"

namespace SystemDataFolder {

bool isSystemAccount() {
    const uid_t user = ::geteuid();
    if (user == 0)
        return true;
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return false;
    return std::string(found->pw_name) == kServiceUser;
}

bool resolve(std::string& folder, bool systemAccountOnSystemBus, std::string& error,
             const std::string& systemFolder) {
    error.clear();
    if (!folder.empty() && folder[0] == '/') {
        // A server that cannot keep what it acknowledges must not listen: every push
        // would fail, so it refuses to start and says where the folder should be.
        const std::string withSlash = folder.back() == '/' ? folder : folder + "/";
        if (FileSystem::folderExists(withSlash) && Settings::probeFolderWritable(withSlash))
            return true;
        error = "the data folder " + folder +
                " cannot be created or written by this account. Set HOME or XDG_CONFIG_HOME "
                "to a folder it may write" +
                (systemAccountOnSystemBus ? std::string(", or create ") + systemFolder +
                                                " for it (\"systemctl start VantorSyncSvc\" "
                                                "creates it for the service)"
                                          : std::string());
        return false;
    }
    if (!systemAccountOnSystemBus) {
        error =
            "no data folder: HOME, XDG_CONFIG_HOME and XDG_DATA_HOME are unset or not "
            "absolute paths. Set HOME or XDG_CONFIG_HOME to an absolute folder, or run as "
            "root or as user " +
            std::string(kServiceUser) + " on the system bus to use " + systemFolder;
        return false;
    }
    const std::string withoutSlash = systemFolder.substr(0, systemFolder.size() - 1);
    if (!FileSystem::createFolders(withoutSlash) || !FileSystem::folderExists(systemFolder) ||
        !Settings::probeFolderWritable(systemFolder)) {
        error = "the data folder " + systemFolder + " cannot be created or written";
        return false;
    }
    folder = systemFolder;
    return true;
}

}  // namespace SystemDataFolder
