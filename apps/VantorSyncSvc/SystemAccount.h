#pragma once

#include <sys/types.h>

#include <string>

// The service never runs as root: a source install has to create the account that the
// unit, the activation file and the bus policy name, as the package does through
// systemd-sysusers. A bus-activated local server also needs its data folder to exist,
// owned by that account, because the account may not create folders in /var/lib.
namespace SystemAccount {

// Creates the account from the sysusers.d file (systemd-sysusers), then the data folder
// (0700, owned by the account) if it is missing; a folder owned by anyone else (a
// service that ran as root before) is handed over with its files. False with the reason.
bool ensure(const std::string& sysusersFile, const std::string& dataFolder, std::string& error);

// A folder left by a service that ran as root: the folder (made 0700) and its regular
// files go to uid:gid; links are left alone. Nothing changes when uid owns it already.
bool handOver(const std::string& folder, uid_t uid, gid_t gid);

}  // namespace SystemAccount
