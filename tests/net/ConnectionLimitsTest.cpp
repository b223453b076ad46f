// The limits a server grants each client: stalled requests time out, idle
// keep-alive connections do not, the connection cap, the buffer budget, and the
// answers that end a connection (HEAD, Connection: close, HTTP/1.0).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "metrics/Metrics.h"
#include "tests/net/ServerFixture.h"

namespace {

class LimitedServerTest : public ::testing::Test {
  protected:
    void startWith(const ConnectionLimits& limits) {
        socket.setLimits(limits);
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(socket.start(0, ServerSocket::kHttpSession, &server));
        port = socket.port();
    }
    void TearDown() override {
        socket.stop();
        server.stop();
    }
    static ConnectionLimits shortTimeout() {
        ConnectionLimits limits;
        limits.requestTimeoutMs = 300;
        return limits;
    }

    ServerSocket socket;
    EchoServer server{&socket};
    uint16_t port = 0;
};

}  // namespace

TEST_F(LimitedServerTest, StalledHeadAndStalledBodyAreClosedIdleConnectionsStay) {
    startWith(shortTimeout());
    TestClient idle(port);
    ASSERT_TRUE(idle.send(versionRequest()));
    ASSERT_TRUE(idle.readResponse().complete);

    TestClient slowHead(port);
    ASSERT_TRUE(slowHead.send("GET /version HTTP/1.1\r\nHost: x"));
    TestClient slowBody(port);
    ASSERT_TRUE(slowBody.send("POST /post_wl_updates HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc"));
    EXPECT_TRUE(slowHead.closedByServer());
    EXPECT_TRUE(slowBody.closedByServer());

    // Well past the time-out, the idle keep-alive connection still answers.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_TRUE(idle.send(versionRequest()));
    EXPECT_TRUE(idle.readResponse().complete);
}

TEST_F(LimitedServerTest, ATricklingRequestIsNotCutOffWhileItMakesProgress) {
    startWith(shortTimeout());
    TestClient client(port);
    const std::string request = versionRequest();
    // Every piece comes within the time-out, the whole takes several time-outs.
    for (size_t i = 0; i < request.size(); i += 4) {
        ASSERT_TRUE(client.send(request.substr(i, 4)));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    TestClient::Response response = client.readResponse();
    ASSERT_TRUE(response.complete);
    EXPECT_EQ("1.0", response.body);
}

TEST_F(LimitedServerTest, ConnectionsPastTheCapAreClosedAtOnce) {
    ConnectionLimits limits;
    limits.maxConnections = 2;
    limits.maxConnectionsPerAddress = 2;
    startWith(limits);
    TestClient first(port);
    TestClient second(port);
    ASSERT_TRUE(eventually([&] { return socket.sessionCount() == 2; }));
    TestClient third(port);
    EXPECT_TRUE(third.closedByServer());
    ASSERT_TRUE(first.send(versionRequest()));
    EXPECT_TRUE(first.readResponse().complete);
    first.close();
    ASSERT_TRUE(eventually([&] { return socket.sessionCount() == 1; }));
    TestClient fourth(port);
    ASSERT_TRUE(fourth.send(versionRequest()));
    EXPECT_TRUE(fourth.readResponse().complete);
}

TEST_F(LimitedServerTest, PastTheBudgetLargeRequestsGetTheFailureAnswerSmallOnesAreServed) {
    ConnectionLimits limits;
    limits.bufferBudget = 1024 * 1024;
    startWith(limits);
    std::string body(800 * 1024, 'b');
    std::string head =
        "POST /post_wl_updates HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n";
    TestClient holder(port);
    ASSERT_TRUE(holder.send(head + body.substr(0, 1000)));
    ASSERT_TRUE(eventually([&] { return socket.budget().used() > 700 * 1024; }));

    TestClient refused(port);
    ASSERT_TRUE(refused.send(head));
    TestClient::Response answer = refused.readResponse();
    EXPECT_EQ(kFailureResponse, answer.raw);
    EXPECT_TRUE(refused.closedByServer());

    TestClient small(port);
    ASSERT_TRUE(small.send(versionRequest()));
    EXPECT_TRUE(small.readResponse().complete);

    // The admitted transfer finishes, and then its bytes are free again.
    ASSERT_TRUE(holder.send(body.substr(1000)));
    TestClient::Response echoed = holder.readResponse();
    ASSERT_TRUE(echoed.complete);
    EXPECT_EQ(body.size(), echoed.body.size());
    EXPECT_TRUE(eventually([&] { return socket.budget().used() == 0; }));
}

TEST_F(LimitedServerTest, HeadGetsNoBodyAndTheNextAnswerIsIntact) {
    startWith(ConnectionLimits());
    TestClient client(port);
    ASSERT_TRUE(client.send("HEAD /version HTTP/1.1\r\nHost: x\r\n\r\n" + versionRequest()));
    // The head of a HEAD answer tells the length a GET would get, and no body follows.
    std::string expected = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n";
    std::string received;
    TestClient::Response next;
    char byte;
    while (received.size() < expected.size() && ::recv(client.socket(), &byte, 1, 0) == 1)
        received.push_back(byte);
    EXPECT_EQ(expected, received);
    next = client.readResponse();
    ASSERT_TRUE(next.complete);
    EXPECT_EQ(0u, next.head.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ("1.0", next.body);
}

TEST_F(LimitedServerTest, ClientsThatDoNotKeepTheConnectionGetTheAnswerThenTheClose) {
    startWith(ConnectionLimits());
    for (const char* request :
         {"GET /version HTTP/1.1\r\nConnection: close\r\n\r\n", "GET /version HTTP/1.0\r\n\r\n",
          "GET /version HTTP/1.1\r\nConnection: TE, Close\r\n\r\n"}) {
        TestClient client(port);
        ASSERT_TRUE(client.send(request));
        TestClient::Response response = client.readResponse();
        ASSERT_TRUE(response.complete) << request;
        EXPECT_NE(std::string::npos, response.head.find("Connection: close\r\n")) << request;
        EXPECT_TRUE(client.closedByServer()) << request;
    }
    // An HTTP/1.0 client that asks for keep-alive is told it has it.
    TestClient keeper(port);
    ASSERT_TRUE(keeper.send("GET /version HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
    TestClient::Response first = keeper.readResponse();
    ASSERT_TRUE(first.complete);
    EXPECT_NE(std::string::npos, first.head.find("Connection: keep-alive\r\n"));
    ASSERT_TRUE(keeper.send("GET /version HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
    EXPECT_TRUE(keeper.readResponse().complete);
}

TEST(ConnectionLimitsFromEnvironment, ValuesOverrideDefaultsAndNonsenseIsIgnored) {
    ::setenv("VANTORSYNC_REQUEST_TIMEOUT", "0.25", 1);
    ::setenv("VANTORSYNC_BUFFER_BUDGET_MB", "300", 1);
    ::setenv("VANTORSYNC_MAX_HEADER_FIELDS", "abc", 1);
    ::setenv("VANTORSYNC_MAX_CONNECTIONS", "-4", 1);
    ConnectionLimits limits = ConnectionLimits::fromEnvironment();
    ::unsetenv("VANTORSYNC_REQUEST_TIMEOUT");
    ::unsetenv("VANTORSYNC_BUFFER_BUDGET_MB");
    ::unsetenv("VANTORSYNC_MAX_HEADER_FIELDS");
    ::unsetenv("VANTORSYNC_MAX_CONNECTIONS");
    EXPECT_EQ(250u, limits.requestTimeoutMs);
    EXPECT_EQ(300ull * 1024 * 1024, limits.bufferBudget);
    EXPECT_EQ(ConnectionLimits().maxHeaderFields, limits.maxHeaderFields);
    EXPECT_EQ(ConnectionLimits().maxConnections, limits.maxConnections);
    EXPECT_EQ(60000u, ConnectionLimits().requestTimeoutMs);
}

// Connections that never send a request must not keep anyone else out: one address gets
// only its share of the cap, and the silent ones go after the header time-out.
TEST_F(LimitedServerTest, SilentConnectionsFromOneAddressLockNobodyOut) {
    ConnectionLimits limits;
    limits.maxConnections = 200;
    limits.headerTimeoutMs = 500;
    startWith(limits);
    const Metrics::Snapshot before = Metrics::instance().snapshot();
    auto answersVersion = [&] {
        TestClient other(port, "127.0.0.3");
        return other.send(versionRequest()) && other.readResponse().complete;
    };
    std::vector<std::unique_ptr<TestClient>> silent;
    for (int i = 0; i < 400; ++i) {
        silent.push_back(std::make_unique<TestClient>(port, "127.0.0.2"));
        if (i % 2 == 0)
            silent.back()->send("\r\n");  // empty lines are not a request
        if (i % 50 == 49) {
            ASSERT_TRUE(answersVersion()) << "after " << i + 1 << " silent connections";
        }
    }
    for (auto& client : silent)
        EXPECT_TRUE(client->closedByServer());
    ASSERT_TRUE(answersVersion());
    const Metrics::Snapshot after = Metrics::instance().snapshot();
    // Each silent connection went one of the two ways (a slow run may admit a few more
    // after the first ones timed out).
    const uint64_t timedOut = after.closedForHeaderTimeout - before.closedForHeaderTimeout;
    EXPECT_GE(timedOut, 50u);
    EXPECT_EQ(timedOut + after.refusedForAddressCap - before.refusedForAddressCap, 400u);
}

TEST_F(LimitedServerTest, AtTheCapTheLongestIdleKeepAliveConnectionMakesRoom) {
    ConnectionLimits limits;
    limits.maxConnections = 3;
    limits.maxConnectionsPerAddress = 10;
    startWith(limits);
    std::vector<std::unique_ptr<TestClient>> kept;
    for (int i = 0; i < 3; ++i) {
        kept.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(kept.back()->send(versionRequest()));
        ASSERT_TRUE(kept.back()->readResponse().complete);
    }
    TestClient newcomer(port);
    ASSERT_TRUE(newcomer.send(versionRequest()));
    EXPECT_TRUE(newcomer.readResponse().complete);
    EXPECT_TRUE(kept[0]->closedByServer());
    for (int i = 1; i < 3; ++i) {
        ASSERT_TRUE(kept[i]->send(versionRequest()));
        EXPECT_TRUE(kept[i]->readResponse().complete) << i;
    }
}

// Answers count against the budget like requests: clients that do not read cannot make
// the server hold answer after answer.
TEST_F(LimitedServerTest, AnswersOutsideTheBudgetGetTheFailureAnswerAndTheClose) {
    ConnectionLimits limits;
    limits.bufferBudget = 8 * 1024 * 1024;
    limits.requestTimeoutMs = 4000;
    startWith(limits);
    const std::string bigPull =
        "GET /get_wl_updates HTTP/1.1\r\nstartIndex: 6000000\r\n\r\n";  // 6 MB answer
    const uint64_t refusedBefore = Metrics::instance().snapshot().closedForBudget;

    TestClient holder(port, nullptr, 4096);
    ASSERT_TRUE(holder.send(bigPull));
    ASSERT_TRUE(eventually([&] { return socket.budget().used() >= 6000000; }));
    TestClient refused(port, nullptr, 4096);
    ASSERT_TRUE(refused.send(bigPull));
    EXPECT_EQ(kFailureResponse, refused.readResponse().raw.substr(0, 200));
    EXPECT_TRUE(refused.closedByServer());
    EXPECT_EQ(refusedBefore + 1, Metrics::instance().snapshot().closedForBudget);
    TestClient small(port);
    ASSERT_TRUE(small.send(versionRequest()));
    EXPECT_TRUE(small.readResponse().complete);
}

TEST_F(LimitedServerTest, ATrustedProxyIsNotHeldToTheAddressCapTheClientsItNamesAre) {
    ConnectionLimits limits;
    limits.maxConnectionsPerAddress = 2;
    socket.setProxyTrust([](const std::string& peer) { return peer == "127.0.0.1"; });
    startWith(limits);
    // Six connections from the proxy, for clients holding up to two places each: the third
    // of one /64 and the third of 192.0.2.1 are refused.
    const struct {
        const char* header;
        bool refused;
    } table[] = {
        {"PROXY TCP4 192.0.2.1 127.0.0.1 1 2\r\n", false},
        {"PROXY TCP4 192.0.2.1 127.0.0.1 1 2\r\n", false},
        {"PROXY TCP6 2001:db8::1 ::1 1 2\r\n", false},
        {"PROXY TCP6 2001:db8::2 ::1 1 2\r\n", false},
        {"PROXY TCP6 2001:db8::3 ::1 1 2\r\n", true},
        {"PROXY TCP6 ::ffff:192.0.2.1 ::1 1 2\r\n", true},
    };
    // All connected before any header is sent: the proxy itself holds more than two places.
    std::vector<std::unique_ptr<TestClient>> open;
    for (size_t i = 0; i < std::size(table); ++i)
        open.push_back(std::make_unique<TestClient>(port));
    ASSERT_TRUE(eventually([&] { return socket.sessionCount() == std::size(table); }));
    for (size_t i = 0; i < std::size(table); ++i) {
        const auto& row = table[i];
        SCOPED_TRACE(row.header);
        ASSERT_TRUE(open[i]->send(row.header + versionRequest()));
        TestClient::Response answer = open[i]->readResponse();
        EXPECT_EQ(row.refused, answer.raw == kFailureResponse);
        EXPECT_EQ(row.refused ? "" : "1.0", answer.body);
    }
    // A closed connection gives its client's place back.
    open[0].reset();
    ASSERT_TRUE(eventually([&] { return socket.sessionCount() == 3; }));
    TestClient again(port);
    ASSERT_TRUE(again.send(table[0].header + versionRequest()));
    EXPECT_EQ("1.0", again.readResponse().body);
}
