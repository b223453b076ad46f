#pragma once

#include <string>

// The service never runs as root: a source install has to create the account that the
// unit, the activation file and the bus policy name, as the package does through
// systemd-sysusers. A bus-activated local server also needs its data folder to exist,
// owned by that account, because the account may not create folders in /var/lib.
namespace SystemAccount {

// Creates the account from the sysusers.d file (systemd-sysusers), then the data folder
// (0700, owned by the account) if it is missing. False with the reason in error.
bool ensure(const std::string& sysusersFile, const std::string& dataFolder, std::string& error);

}  // namespace SystemAccount
