#include "net/ListenSockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace ListenSockets {

namespace {

std::string withPort(const std::string& address, bool ipv6, uint16_t port) {
    return (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string addressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
    return text;
}

}  // namespace

int open(const std::string& address, uint16_t port, std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) {
        why = "\"" + address + "\" is not a numeric address, or its zone names no interface";
        return -1;
    }
    int listening = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    const char* step = nullptr;
    if (listening < 0 || ::setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        (found->ai_family == AF_INET6 &&
         ::setsockopt(listening, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0)) {
        step = "given a socket";
    } else if (::bind(listening, found->ai_addr, found->ai_addrlen) != 0) {
        step = "bound";
    } else if (::listen(listening, INT_MAX) != 0 || !adopt(listening)) {
        // The system caps the backlog at its own maximum.
        step = "listened on";
    }
    const int error = errno;
    ::freeaddrinfo(found);
    if (step != nullptr) {
        why = "port " + std::to_string(port) + " could not be " + step + " at " + address + " (" +
              std::strerror(error) + ")";
        if (listening >= 0)
            ::close(listening);
        return -1;
    }
    return listening;
}

bool adopt(int socket) {
    int one = 1;
    int flags = ::fcntl(socket, F_GETFL, 0);
    return ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) == 0 && flags >= 0 &&
           ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(socket, F_SETFD, FD_CLOEXEC) == 0;
}

uint16_t boundPort(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

std::string describe(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return "?";
    return withPort(addressText(address), address.ss_family == AF_INET6, boundPort(socket));
}

std::string peerText(const sockaddr_storage& peer) {
    if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, v6.sin6_addr.s6_addr + 12, text, sizeof text);
            return text;
        }
    }
    const std::string text = addressText(peer);
    return text.empty() ? "0.0.0.0" : text;
}

}  // namespace ListenSockets
