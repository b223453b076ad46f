#include <arpa/inet.h>
#include <dirent.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/ListenSockets.h"
#include "tests/net/ServerFixture.h"

namespace {

int threadCount() {
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(tasks);
    return count;
}

}  // namespace

TEST_F(ServerTest, KeepAliveAnswersRequestsOnOneConnection) {
    TestClient client(port);
    ASSERT_TRUE(client.connected());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.send(versionRequest(i == 1 ? "/VERSION" : "/version?x=1")));
        TestClient::Response response = client.readResponse();
        ASSERT_TRUE(response.complete);
        EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n1.0", response.raw);
    }
    EXPECT_EQ(1u, socket.sessionCount());
}

TEST_F(ServerTest, FailureResponseHasItsExactBytesAndClosesTheConnection) {
    // An unknown path, and a handler that filled the response before failing.
    for (const char* path : {"/versions", "/get_ts_updates"}) {
        TestClient client(port);
        ASSERT_TRUE(client.send(versionRequest(path)));
        TestClient::Response response = client.readResponse();
        EXPECT_EQ(kFailureResponse, response.raw) << path;
        EXPECT_TRUE(client.closedByServer()) << path;
    }
    EXPECT_TRUE(eventually([&] { return socket.sessionCount() == 0; }));
}

TEST_F(ServerTest, PipelinedRequestsAreAnsweredInOrderOnTheSameConnection) {
    TestClient client(port);
    ASSERT_TRUE(client.send(versionRequest() + postRequest("/post_wl_updates", "abc") +
                            "GET /get_wl_updates HTTP/1.1\r\nstartIndex: 5\r\n\r\n"));
    TestClient::Response first = client.readResponse();
    TestClient::Response second = client.readResponse();
    TestClient::Response third = client.readResponse();
    EXPECT_EQ("1.0", first.body);
    EXPECT_EQ("abc", second.body);
    EXPECT_NE(std::string::npos, second.head.find("newIndex: 3\r\n"));
    EXPECT_EQ("abcde", third.body);
    // Still open for more.
    ASSERT_TRUE(client.send(versionRequest()));
    EXPECT_EQ("1.0", client.readResponse().body);
}

TEST_F(ServerTest, RequestPipelinedBehindAFailureIsNotAnswered) {
    TestClient client(port);
    ASSERT_TRUE(client.send(versionRequest("/nope") + versionRequest()));
    EXPECT_EQ(kFailureResponse, client.readResponse().raw);
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(ServerTest, LargeResponsesAreWrittenAsTheClientTakesThem) {
    TestClient client(port);
    const std::string pull = "GET /get_wl_updates HTTP/1.1\r\nstartIndex: 8000000\r\n\r\n";
    ASSERT_TRUE(client.send(pull + versionRequest()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the send buffer fill
    TestClient::Response large = client.readResponse();
    ASSERT_TRUE(large.complete);
    ASSERT_EQ(8000000u, large.body.size());
    EXPECT_EQ('a', large.body[0]);
    EXPECT_EQ('a' + 7999999 % 26, large.body.back());
    EXPECT_EQ("1.0", client.readResponse().body);
}

TEST_F(ServerTest, TwoThousandSimultaneousConnectionsAreEachAnswered) {
    constexpr int kClients = 2000;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(clients.back()->connected()) << i;
    }
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(clients[i]->send(postRequest("/post_wl_updates", std::to_string(i))));
    }
    for (int i = 0; i < kClients; ++i) {
        TestClient::Response response = clients[i]->readResponse();
        ASSERT_TRUE(response.complete) << i;
        EXPECT_EQ(std::to_string(i), response.body);
    }
    EXPECT_EQ(size_t(kClients), socket.sessionCount());
}

TEST_F(ServerTest, PeerClosingMidRequestEndsItsSessionOnly) {
    TestClient stays(port);
    {
        TestClient leaves(port);
        ASSERT_TRUE(leaves.send("POST /post_wl_updates HTTP/1.1\r\nContent-Length: 100\r\n\r\nab"));
        ASSERT_TRUE(eventually([&] { return socket.sessionCount() == 2; }));
    }
    EXPECT_TRUE(eventually([&] { return socket.sessionCount() == 1; }));
    ASSERT_TRUE(stays.send(versionRequest()));
    EXPECT_EQ("1.0", stays.readResponse().body);
}

TEST_F(ServerTest, PeerClosingBeforeItsAnswerDropsTheAnswer) {
    server.closeGate();
    {
        TestClient leaves(port);
        ASSERT_TRUE(leaves.send(versionRequest()));
        ASSERT_TRUE(server.waitUntilHeld());
    }
    server.openGate();
    EXPECT_TRUE(eventually([&] { return socket.sessionCount() == 0; }));
    HTTPParser::IOB bytes;
    bytes.append("x", 1);
    EXPECT_FALSE(socket.sendResponse(server.sessionIds().back(), bytes, false));

    TestClient next(port);
    ASSERT_TRUE(next.send(versionRequest()));
    EXPECT_EQ("1.0", next.readResponse().body);
}

TEST_F(ServerTest, HalfClosedPeerStillGetsItsAnswer) {
    TestClient client(port);
    ASSERT_TRUE(client.send(postRequest("/post_wl_updates", "last words")));
    client.shutdownSending();
    EXPECT_EQ("last words", client.readResponse().body);
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(ServerTest, StopDiscardsWaitingRequestsWithoutAnswers) {
    server.closeGate();
    TestClient held(port);
    ASSERT_TRUE(held.send(versionRequest()));
    ASSERT_TRUE(server.waitUntilHeld());
    TestClient second(port), third(port);
    ASSERT_TRUE(second.send(versionRequest()));
    ASSERT_TRUE(third.send(postRequest("/post_wl_updates", "x")));
    ASSERT_TRUE(eventually([&] { return server.waitingCount() == 2; }));

    socket.stop();
    server.openGate();
    server.stop();
    EXPECT_EQ(0u, server.waitingCount());
    EXPECT_EQ(0u, socket.sessionCount());
    for (TestClient* client : {&held, &second, &third})
        EXPECT_TRUE(client->closedByServer());
}

TEST_F(ServerTest, SessionIdsGrowAcrossARestart) {
    {
        TestClient first(port), second(port);
        ASSERT_TRUE(first.send(versionRequest()));
        ASSERT_TRUE(first.readResponse().complete);
        ASSERT_TRUE(second.send(versionRequest()));
        ASSERT_TRUE(second.readResponse().complete);
    }
    socket.stop();
    ASSERT_TRUE(socket.start(0, ServerSocket::kHttpSession, &server));
    TestClient third(socket.port());
    ASSERT_TRUE(third.send(versionRequest()));
    ASSERT_TRUE(third.readResponse().complete);
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), server.sessionIds());
}

TEST_F(ServerTest, PortInUseFailsAndLeavesNoThread) {
    int threadsBefore = threadCount();
    ServerSocket second;
    EXPECT_FALSE(second.start(port, ServerSocket::kHttpSession, &server));
    EXPECT_FALSE(second.isStarted());
    EXPECT_EQ(threadsBefore, threadCount());
    // The first socket is unaffected.
    TestClient client(port);
    ASSERT_TRUE(client.send(versionRequest()));
    EXPECT_EQ("1.0", client.readResponse().body);
}

TEST_F(ServerTest, ListenAddressesThatCannotAllBeBoundStartNothing) {
    const int threadsBefore = threadCount();
    const struct {
        std::vector<std::string> addresses;
        const char* why;
    } cases[] = {
        {{"::1", "0.0.0.0"}, "could not be bound at 0.0.0.0 ("},  // the fixture holds it
        {{"::1", "::1"}, "could not be bound at ::1 ("},
        {{"fe80::1%nosuchif0"}, "zone names no interface"},
        {{}, "no address"},
    };
    for (const auto& refused : cases) {
        ServerSocket second;
        EXPECT_FALSE(second.start(refused.addresses, port, ServerSocket::kHttpSession, &server));
        EXPECT_NE(second.startError().find(refused.why), std::string::npos) << second.startError();
        EXPECT_FALSE(second.isStarted());
        EXPECT_EQ(threadsBefore, threadCount());
    }
    // Nothing of a failed start stays bound: ::1 on this port is free again.
    ServerSocket third;
    ASSERT_TRUE(third.start({"::1"}, port, ServerSocket::kHttpSession, &server));
    EXPECT_EQ(third.listeningOn(), std::vector<std::string>{"[::1]:" + std::to_string(port)});
}

TEST(ListenSocketsTest, PeerTextHasOneSpellingPerClient) {
    const std::pair<const char*, const char*> cases[] = {
        {"10.1.2.3", "10.1.2.3"},
        {"::ffff:10.1.2.3", "10.1.2.3"},  // IPv4 through a dual-stack socket
        {"fd00::2", "fd00::2"},
        {"::1", "::1"},
    };
    for (const auto& [address, text] : cases) {
        sockaddr_storage peer{};
        if (std::string(address).find(':') == std::string::npos) {
            auto& v4 = reinterpret_cast<sockaddr_in&>(peer);
            v4.sin_family = AF_INET;
            ASSERT_EQ(inet_pton(AF_INET, address, &v4.sin_addr), 1);
        } else {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(peer);
            v6.sin6_family = AF_INET6;
            ASSERT_EQ(inet_pton(AF_INET6, address, &v6.sin6_addr), 1);
        }
        EXPECT_EQ(ListenSockets::peerText(peer), text) << address;
    }
}

TEST_F(ServerTest, ExpectContinueGetsTheInterimResponseBeforeTheBody) {
    TestClient client(port);
    ASSERT_TRUE(client.send(
        "POST /post_wl_updates HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\n"));
    TestClient::Response interim = client.readResponse();
    EXPECT_EQ("HTTP/1.1 100 Continue\r\n\r\n", interim.raw);
    ASSERT_TRUE(client.send("hello"));
    TestClient::Response final = client.readResponse();
    EXPECT_EQ("hello", final.body);
    EXPECT_EQ(0u, final.head.find("HTTP/1.1 200 OK\r\n"));
}

TEST_F(ServerTest, RequestBeyondTheBufferLimitClosesAtOnce) {
    TestClient client(port);
    ASSERT_TRUE(client.send("POST /post_wl_updates HTTP/1.1\r\nContent-Length: 200000000\r\n\r\n"));
    EXPECT_TRUE(client.closedByServer());

    TestClient badChunks(port);
    ASSERT_TRUE(badChunks.send(
        "POST /post_wl_updates HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n"));
    EXPECT_TRUE(badChunks.closedByServer());
}

TEST_F(ServerTest, PeerAddressComesFromTheConnectionNeverFromTheClient) {
    TestClient client(port);
    ASSERT_TRUE(client.send("GET /version HTTP/1.1\r\nRemote-IP: 10.9.8.7\r\n\r\n"));
    ASSERT_TRUE(client.readResponse().complete);
    EXPECT_EQ("127.0.0.1", server.peerAddress());
    // The forged field does not even reach the handlers.
    EXPECT_EQ("", server.firstRemoteIp());
}

TEST(RequestQueue, OneMoreThanTheLimitMayWait) {
    RequestHandler<HTTPParser::HTTPRequest> queue(nullptr);
    HTTPParser::HTTPRequest request;
    for (uint32_t i = 0; i <= RequestHandler<HTTPParser::HTTPRequest>::kQueueLimit; ++i) {
        ASSERT_TRUE(queue.enqueue(i, request)) << i;
    }
    EXPECT_EQ(10001u, queue.waitingCount());
    EXPECT_FALSE(queue.enqueue(0, request));
    queue.stop();
    EXPECT_EQ(0u, queue.waitingCount());
}

// Answers may still arrive from the worker or a committer while the socket stops; none of
// them may keep the next start from waking up for its own answers.
TEST_F(ServerTest, AnswersArrivingDuringAStopDoNotSilenceTheNextStart) {
    HTTPParser::IOB answer;
    const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    ASSERT_TRUE(answer.append(text.data(), static_cast<uint32_t>(text.size())));
    constexpr uint32_t kIdle = 200;
    for (int cycle = 0; cycle < 10; ++cycle) {
        std::vector<std::unique_ptr<TestClient>> idle;
        for (uint32_t i = 0; i < kIdle; ++i)
            idle.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(eventually([&] { return socket.sessionCount() == kIdle; }));
        const uint32_t last = socket.nextSessionId() - 1;
        std::atomic<bool> done{false};
        std::vector<std::thread> answering;
        for (uint32_t from = 0; from < 3; ++from) {
            answering.emplace_back([&, from] {
                for (uint32_t i = from; !done.load(); ++i)
                    socket.sendResponse(last - i % kIdle, answer, false);
            });
        }
        socket.stop();
        done = true;
        for (std::thread& thread : answering)
            thread.join();

        ASSERT_TRUE(socket.start(0, ServerSocket::kHttpSession, &server));
        port = socket.port();
        TestClient probe(port);
        timeval limit{5, 0};
        ::setsockopt(probe.socket(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        // Answered only after the I-O thread has gone back to sleep: the wake-up must come.
        server.closeGate();
        ASSERT_TRUE(probe.send(versionRequest()));
        ASSERT_TRUE(server.waitUntilHeld());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        server.openGate();
        ASSERT_TRUE(probe.readResponse().complete) << "cycle " << cycle;
    }
}
