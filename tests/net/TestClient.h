#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// A blocking HTTP client on 127.0.0.1 for the socket tests. Reads give up after a
// generous time so a server fault fails the test instead of hanging it.
class TestClient {
  public:
    struct Response {
        bool complete = false;
        std::string head;  // status line and fields, up to the empty line
        std::string body;
        std::string raw;  // everything read for this response
    };

    // from: the loopback address to connect from (127.0.0.1 when none); receiveBuffer:
    // a small kernel buffer makes a client that does not read hold the server's bytes.
    explicit TestClient(uint16_t port, const char* from = nullptr, int receiveBuffer = 0) {
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        timeval limit{30, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (from != nullptr) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &local.sin_addr);
            ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~TestClient() { close(); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return connected_; }

    bool send(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(socket_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads one response framed by its Content-Length (no field: no body).
    Response readResponse() {
        Response response;
        size_t headEnd;
        while ((headEnd = pending_.find("\r\n\r\n")) == std::string::npos) {
            if (!receiveMore())
                return response;
        }
        response.head = pending_.substr(0, headEnd + 2);
        size_t length = 0;
        size_t field = response.head.find("Content-Length: ");
        if (field != std::string::npos)
            length = std::strtoul(response.head.c_str() + field + 16, nullptr, 10);
        size_t total = headEnd + 4 + length;
        while (pending_.size() < total) {
            if (!receiveMore())
                return response;
        }
        response.raw = pending_.substr(0, total);
        response.body = pending_.substr(headEnd + 4, length);
        pending_.erase(0, total);
        response.complete = true;
        return response;
    }

    // True when the server closed the connection with nothing more to read.
    bool closedByServer() {
        if (!pending_.empty())
            return false;
        char byte;
        ssize_t n = ::recv(socket_, &byte, 1, 0);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }

    void shutdownSending() { ::shutdown(socket_, SHUT_WR); }
    void close() {
        if (socket_ >= 0)
            ::close(socket_);
        socket_ = -1;
    }
    int socket() const { return socket_; }

  private:
    bool receiveMore() {
        char buffer[65536];
        ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        pending_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    int socket_ = -1;
    bool connected_ = false;
    std::string pending_;
};

inline std::string versionRequest(const std::string& path = "/version") {
    return "GET " + path + " HTTP/1.1\r\nHost: test\r\n\r\n";
}

inline std::string postRequest(const std::string& path, const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}
