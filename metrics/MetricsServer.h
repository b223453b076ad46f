#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

// The metrics listener: a port of its own, apart from the sync port, so a scraper
// never competes with sync clients for the request queue and the sync answers stay
// exactly as they are. One thread serves every connection at once, waiting on all of them
// together: GET /metrics answers the current text and closes. A connection that has not
// sent its whole request within the short head time-out is closed, and at most
// kMaxClients are held (the oldest gives way), so connections that say nothing cannot
// keep a scraper waiting.
class MetricsServer {
  public:
    using Render = std::function<std::string()>;

    static constexpr size_t kMaxRequestBytes = 8192;
    static constexpr long long kHeadTimeoutMs = 1000;
    static constexpr long long kSendTimeoutMs = 5000;
    static constexpr size_t kMaxClients = 4096;

    explicit MetricsServer(Render render) : render_(std::move(render)) {}
    ~MetricsServer() { stop(); }
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Listens on address ("HOST:PORT", "[IPv6]:PORT"; port 0 picks a free one); false
    // with the reason in error.
    bool start(const std::string& address, std::string& error);
    void stop();
    // The address actually bound, as "HOST:PORT"; empty while stopped.
    std::string boundAddress() const { return bound_; }

  private:
    struct Client {
        int fd;
        long long deadlineMs;
        std::string request;
        std::string answer;  // empty while the request is still coming in
        size_t sent;
    };

    void run();
    void acceptClients(std::vector<Client>& clients);
    // Each false when the connection is done with: answered, gone, too large.
    bool receive(Client& client);
    bool send(Client& client);

    Render render_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::string bound_;
    std::thread thread_;
};

// Splits "HOST:PORT" or "[HOST]:PORT"; false when it is not of that form or the port is
// not 0-65535.
bool parseListenAddress(const std::string& text, std::string& host, int& port);
