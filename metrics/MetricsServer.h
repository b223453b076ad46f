#pragma once

#include <functional>
#include <string>
#include <thread>

// The metrics listener: a port of its own, apart from the sync port, so a scraper
// never competes with sync clients for the request queue and the sync answers stay
// exactly as they are. One short-lived connection at a time: GET /metrics answers the
// current text and closes. Each request is bounded in size and time.
class MetricsServer {
  public:
    using Render = std::function<std::string()>;

    static constexpr size_t kMaxRequestBytes = 8192;
    static constexpr int kClientTimeoutMs = 5000;

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
    void run();
    void serve(int client);
    // Waits for the client (events) or a stop; false on stop, time-out or error.
    bool waitFor(int client, short events, long long deadlineMs);

    Render render_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::string bound_;
    std::thread thread_;
};

// Splits "HOST:PORT" or "[HOST]:PORT"; false when it is not of that form or the port is
// not 0-65535.
bool parseListenAddress(const std::string& text, std::string& host, int& port);
