// Runs the HTTP server with the echo handlers on a port until SIGTERM or SIGINT.
// Usage: vs_test_http_server [port]   (0 or nothing: a free port)
// Prints "port <n>" on its own line once it accepts connections.
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "net/ServerSocket.h"
#include "tests/net/EchoServer.h"

int main(int argc, char** argv) {
    long port = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (port < 0 || port > 65535) {
        std::fprintf(stderr, "bad port\n");
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    // Blocked before any thread starts, so only sigwait below receives them.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ServerSocket socket;
    EchoServer server(&socket);
    if (!server.start() ||
        !socket.start(static_cast<uint16_t>(port), ServerSocket::kHttpSession, &server)) {
        std::fprintf(stderr, "cannot listen on port %ld\n", port);
        return 1;
    }
    std::printf("port %u\n", socket.port());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    socket.stop();
    server.stop();
    return 0;
}
