#include "apps/VantorSyncSvc/SystemAccount.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "apps/VantorSyncSvc/ServiceManager.h"
#include "config/SystemDataFolder.h"

namespace SystemAccount {

bool handOver(const std::string& folder, uid_t uid, gid_t gid) {
    struct stat info;
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    if (info.st_uid == uid)
        return true;
    if (::chown(folder.c_str(), uid, gid) != 0 || ::chmod(folder.c_str(), 0700) != 0)
        return false;
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr)
        return false;
    bool ok = true;
    while (dirent* entry = ::readdir(listing)) {
        std::string path = folder + "/" + entry->d_name;
        // Links are left alone: following one could hand over a file elsewhere.
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::lchown(path.c_str(), uid, gid) != 0) {
            ok = false;
        }
    }
    ::closedir(listing);
    return ok;
}

bool ensure(const std::string& sysusersFile, const std::string& dataFolder, std::string& error) {
    if (runProgram({"systemd-sysusers", sysusersFile}) != ServiceManager::Result::Done) {
        error = std::string("Could not create the account ") + SystemDataFolder::kServiceUser +
                " (systemd-sysusers " + sysusersFile + ")";
        return false;
    }
    struct passwd* account = ::getpwnam(SystemDataFolder::kServiceUser);
    if (account == nullptr) {
        error = std::string("The account ") + SystemDataFolder::kServiceUser + " is missing";
        return false;
    }
    if (::mkdir(dataFolder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "Could not create " + dataFolder + ": " + std::strerror(errno);
        return false;
    }
    if (!handOver(dataFolder, account->pw_uid, account->pw_gid)) {
        error = "Could not hand " + dataFolder + " to " + SystemDataFolder::kServiceUser + ": " +
                std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace SystemAccount
