#pragma once

#include <string>
#include <vector>

// Where the service listens, in this order of precedence: the sockets systemd hands over
// (VantorSyncSvc.socket), then addresses given with -Listen=, then the settings. systemd's
// sockets stay open across a restart of the service, so no client is refused meanwhile.
namespace ListenChoice {

// The listening TCP sockets passed by systemd (sd_listen_fds); empty when the process was
// not started that way. Other kinds of passed descriptor are closed and named in `notes`.
std::vector<int> takeSystemdSockets(std::vector<std::string>& notes);

// The text of -Listen=ADDRESSES (case-insensitive, after "-" or "/"); false when absent.
bool requestedAddresses(const std::string& commandLine, std::string& text);

}  // namespace ListenChoice
