#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metrics/Metrics.h"
#include "metrics/MetricsServer.h"
#include "metrics/MetricsText.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int connectTo(const std::string& bound) {
    int port = std::stoi(bound.substr(bound.rfind(':') + 1));
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

}  // namespace

TEST(MetricsTextTest, HistogramBucketsAreCumulativeAndLabelsEscaped) {
    Metrics::Snapshot snapshot;
    snapshot.saves[0].buckets[0] = 2;  // <= 0.001 s
    snapshot.saves[0].buckets[3] = 1;  // <= 0.01 s
    snapshot.saves[0].count = 4;       // one beyond the last bound
    snapshot.saves[0].sumSeconds = 20.5;
    snapshot.requests[{"other", 500}] = 7;
    std::string text = renderMetrics(snapshot, {"1.2.3", "Release", "GNU \"12\"\n"});

    EXPECT_TRUE(contains(text,
                         "vantorsync_store_save_seconds_bucket{collection=\"whitelist\","
                         "le=\"0.001\"} 2\n"));
    EXPECT_TRUE(contains(text,
                         "vantorsync_store_save_seconds_bucket{collection=\"whitelist\","
                         "le=\"0.01\"} 3\n"));
    EXPECT_TRUE(contains(text,
                         "vantorsync_store_save_seconds_bucket{collection=\"whitelist\","
                         "le=\"10\"} 3\n"));
    EXPECT_TRUE(contains(text,
                         "vantorsync_store_save_seconds_bucket{collection=\"whitelist\","
                         "le=\"+Inf\"} 4\n"));
    EXPECT_TRUE(
        contains(text, "vantorsync_store_save_seconds_sum{collection=\"whitelist\"} 20.5\n"));
    EXPECT_TRUE(contains(text, "compiler=\"GNU \\\"12\\\"\\n\"} 1\n"));
    EXPECT_TRUE(
        contains(text, "vantorsync_http_requests_total{endpoint=\"other\",status=\"500\"} 7\n"));
    // Without a store sampler there are no store lines rather than made-up zeros.
    EXPECT_FALSE(contains(text, "vantorsync_store_keys"));
    EXPECT_EQ(text.back(), '\n');
}

TEST(MetricsTextTest, EndpointsAreTheSyncPathsInAnyCaseElseOther) {
    EXPECT_EQ(Metrics::endpointOf("/GET_WL_UPDATES"), "/get_wl_updates");
    EXPECT_EQ(Metrics::endpointOf("/version"), "/version");
    // Client-chosen paths never become labels of their own: the series stay bounded.
    EXPECT_EQ(Metrics::endpointOf("/version/../etc"), "other");
    EXPECT_EQ(Metrics::endpointOf(""), "other");
}

TEST(MetricsServerTest, ListenAddressNeedsHostAndPortInRange) {
    std::string host;
    int port = -1;
    EXPECT_TRUE(parseListenAddress("127.0.0.1:9817", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 9817);
    EXPECT_TRUE(parseListenAddress("[::1]:0", host, port));
    EXPECT_EQ(host, "::1");
    for (const char* bad : {"9817", ":9817", "127.0.0.1:", "127.0.0.1:65536", "::1:80",
                            "127.0.0.1:12x", "[::1:80", "127.0.0.1:99999999999"}) {
        EXPECT_FALSE(parseListenAddress(bad, host, port)) << bad;
    }
}

TEST(MetricsServerTest, ScrapesAreServedBesideSilentAndOversizedClients) {
    MetricsServer server([] { return std::string("x 1\n"); });
    std::string error;
    ASSERT_TRUE(server.start("127.0.0.1:0", error)) << error;

    // Each of these once held the only listener for seconds; now they wait beside it.
    std::vector<int> silent;
    for (int i = 0; i < 10; ++i)
        silent.push_back(connectTo(server.boundAddress()));

    int good = connectTo(server.boundAddress());
    timeval patience{10, 0};  // far beyond an answer, far below what 10 silent clients once cost
    ::setsockopt(good, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::string get = "GET /metrics?x=1 HTTP/1.0\r\n\r\n";
    ::send(good, get.data(), get.size(), MSG_NOSIGNAL);
    std::string answer = readAll(good);
    ::close(good);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_TRUE(contains(answer, "\r\nContent-Length: 4\r\n"));
    EXPECT_EQ(answer.substr(answer.size() - 4), "x 1\n");

    int big = connectTo(server.boundAddress());
    std::string request =
        "GET /metrics HTTP/1.1\r\nX: " + std::string(MetricsServer::kMaxRequestBytes, 'a') +
        "\r\n\r\n";
    ::send(big, request.data(), request.size(), MSG_NOSIGNAL);
    EXPECT_EQ(readAll(big), "");  // closed without an answer
    ::close(big);

    // The head time-out closes the silent ones.
    EXPECT_EQ(readAll(silent.front()), "");
    int queued = connectTo(server.boundAddress());
    server.stop();  // returns although clients are still open
    EXPECT_EQ(server.boundAddress(), "");
    for (int fd : silent)
        ::close(fd);
    ::close(queued);
}
