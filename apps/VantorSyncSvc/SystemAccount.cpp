#include "apps/VantorSyncSvc/SystemAccount.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "apps/VantorSyncSvc/ServiceManager.h"
#include "config/SystemDataFolder.h"

namespace SystemAccount {

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
    if (::mkdir(dataFolder.c_str(), 0700) != 0) {
        if (errno == EEXIST)
            return true;  // an existing folder keeps its owner and mode
        error = "Could not create " + dataFolder + ": " + std::strerror(errno);
        return false;
    }
    if (::chown(dataFolder.c_str(), account->pw_uid, account->pw_gid) != 0) {
        error = "Could not hand " + dataFolder + " to " + SystemDataFolder::kServiceUser + ": " +
                std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace SystemAccount
