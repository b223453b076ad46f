#include "metrics/MetricsServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string response(const char* status, const char* type, const std::string& body, bool withBody) {
    std::string text = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\n\r\n";
    if (withBody)
        text += body;
    return text;
}

std::string answerFor(const std::string& request, const MetricsServer::Render& render) {
    size_t lineEnd = request.find_first_of("\r\n");
    std::string line = request.substr(0, lineEnd);
    size_t firstBlank = line.find(' ');
    size_t secondBlank =
        firstBlank == std::string::npos ? firstBlank : line.find(' ', firstBlank + 1);
    if (secondBlank == std::string::npos || line.compare(secondBlank + 1, 5, "HTTP/") != 0)
        return response("400 Bad Request", "text/plain", "Bad request\n", true);
    std::string method = line.substr(0, firstBlank);
    std::string target = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    std::string path = target.substr(0, target.find('?'));
    bool head = method == "HEAD";
    if (method != "GET" && !head)
        return response("405 Method Not Allowed", "text/plain", "Only GET\n", true);
    if (path != "/metrics")
        return response("404 Not Found", "text/plain", "Metrics are at /metrics\n", !head);
    return response("200 OK", "text/plain; version=0.0.4; charset=utf-8", render(), !head);
}

}  // namespace

bool parseListenAddress(const std::string& text, std::string& host, int& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return false;
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;  // an IPv6 address needs its brackets
    }
    std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(digits);
    return port <= 65535;
}

bool MetricsServer::start(const std::string& address, std::string& error) {
    stop();
    std::string host;
    int port = 0;
    if (!parseListenAddress(address, host, port)) {
        error = "metrics address \"" + address + "\" is not HOST:PORT";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int lookup = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookup != 0 || found == nullptr) {
        error = "metrics address \"" + address + "\": " + ::gai_strerror(lookup);
        return false;
    }
    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int one = 1;
    bool ok = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
              ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 16) == 0;
    ::freeaddrinfo(found);
    if (!ok) {
        error = "metrics listener on " + address + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    char text[INET6_ADDRSTRLEN] = "";
    int boundPort = 0;
    if (bound.ss_family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&bound);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        boundPort = ntohs(v6->sin6_port);
        bound_ = std::string("[") + text + "]:" + std::to_string(boundPort);
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&bound);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        boundPort = ntohs(v4->sin_port);
        bound_ = std::string(text) + ":" + std::to_string(boundPort);
    }
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0) {
        error = std::string("metrics listener: ") + std::strerror(errno);
        ::close(fd);
        bound_.clear();
        return false;
    }
    listenFd_ = fd;
    thread_ = std::thread(&MetricsServer::run, this);
    return true;
}

void MetricsServer::stop() {
    if (thread_.joinable()) {
        uint64_t one = 1;
        ssize_t written = ::write(stopFd_, &one, sizeof one);
        (void)written;  // an eventfd write of 1 cannot fail short of overflow
        thread_.join();
    }
    for (int* fd : {&listenFd_, &stopFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    bound_.clear();
}

void MetricsServer::run() {
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({stopFd_, POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        long long now = nowMs();
        long long nextDeadline = -1;
        for (const Client& client : clients) {
            fds.push_back({client.fd, client.answer.empty() ? short(POLLIN) : short(POLLOUT), 0});
            if (nextDeadline < 0 || client.deadlineMs < nextDeadline)
                nextDeadline = client.deadlineMs;
        }
        int wait = nextDeadline < 0 ? -1 : static_cast<int>(std::max(0LL, nextDeadline - now));
        if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break;
        now = nowMs();
        std::vector<Client> kept;
        kept.reserve(clients.size() + 1);
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& client = clients[i];
            bool open = client.deadlineMs > now;
            if (open && fds[i + 2].revents != 0)
                open = client.answer.empty() ? receive(client) : send(client);
            if (open)
                kept.push_back(std::move(client));
            else
                ::close(client.fd);
        }
        clients.swap(kept);
        if (fds[1].revents != 0)
            acceptClients(clients);
    }
    for (const Client& client : clients)
        ::close(client.fd);
}

void MetricsServer::acceptClients(std::vector<Client>& clients) {
    for (int round = 0; round < 64; ++round) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;  // none waiting, the peer left, or no descriptors: next wake-up
        if (clients.size() >= kMaxClients) {
            // The oldest connection gives way: whoever holds many open cannot lock out
            // the scraper that comes next.
            ::close(clients.front().fd);
            clients.erase(clients.begin());
        }
        clients.push_back(Client{fd, nowMs() + kHeadTimeoutMs, std::string(), std::string(), 0});
    }
}

bool MetricsServer::receive(Client& client) {
    char buffer[2048];
    ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (got < 0)
        return errno == EAGAIN || errno == EINTR;
    if (got == 0)
        return false;
    client.request.append(buffer, static_cast<size_t>(got));
    if (client.request.find("\r\n\r\n") == std::string::npos &&
        client.request.find("\n\n") == std::string::npos)
        return client.request.size() < kMaxRequestBytes;  // too large: closed without an answer
    client.answer = answerFor(client.request, render_);
    client.deadlineMs = nowMs() + kSendTimeoutMs;
    return send(client);
}

bool MetricsServer::send(Client& client) {
    while (client.sent < client.answer.size()) {
        ssize_t put = ::send(client.fd, client.answer.data() + client.sent,
                             client.answer.size() - client.sent, MSG_NOSIGNAL);
        if (put < 0)
            return errno == EAGAIN || errno == EINTR;
        client.sent += static_cast<size_t>(put);
    }
    return false;  // all sent: the answer said it closes
}
