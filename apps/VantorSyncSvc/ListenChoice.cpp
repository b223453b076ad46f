#include "apps/VantorSyncSvc/ListenChoice.h"

#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <systemd/sd-daemon.h>

namespace ListenChoice {

std::vector<int> takeSystemdSockets(std::vector<std::string>& notes) {
    std::vector<int> sockets;
    // 1: the variables are removed, so that nothing started from here takes them too.
    const int count = ::sd_listen_fds(1);
    for (int i = 0; i < count; ++i) {
        const int fd = SD_LISTEN_FDS_START + i;
        if (::sd_is_socket(fd, AF_UNSPEC, SOCK_STREAM, 1) > 0) {
            sockets.push_back(fd);
        } else {
            notes.push_back("descriptor " + std::to_string(fd) +
                            " from systemd is not a listening stream socket; closed");
            ::close(fd);
        }
    }
    return sockets;
}

bool requestedAddresses(const std::string& commandLine, std::string& text) {
    static const char kSwitch[] = "listen=";
    for (size_t i = 0; i < commandLine.size(); ++i) {
        if ((commandLine[i] == '-' || commandLine[i] == '/') &&
            strncasecmp(commandLine.c_str() + i + 1, kSwitch, sizeof kSwitch - 1) == 0) {
            const size_t start = i + sizeof kSwitch;
            const size_t end = commandLine.find_first_of(" \t", start);
            text = commandLine.substr(start, end == std::string::npos ? end : end - start);
            return true;
        }
    }
    return false;
}

}  // namespace ListenChoice
