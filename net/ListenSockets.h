#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

// The listening sockets of the sync server and the peer addresses they report.
namespace ListenSockets {

// A non-blocking TCP socket listening on the numeric address (IPv4, or IPv6 with an
// optional %zone) and port; 0 lets the system pick the port. An IPv6 socket takes only
// IPv6 connections, whatever the system's default, so "::" and "0.0.0.0" can be listed
// side by side. -1 with `why` when any step fails.
int open(const std::string& address, uint16_t port, std::string& why);
// Prepares a socket another process made listening (systemd) for our listener thread.
bool adopt(int socket);
// The port a socket is bound to; 0 when it cannot be read.
uint16_t boundPort(int socket);
// "127.0.0.1:17080" or "[::1]:17080".
std::string describe(int socket);
// A peer's address as text: dotted IPv4, also for an IPv4 client that reached an IPv6
// socket (::ffff:a.b.c.d), so one client always has one spelling; else IPv6 text.
std::string peerText(const sockaddr_storage& peer);

}  // namespace ListenSockets
