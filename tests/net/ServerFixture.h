#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/ServerSocket.h"
#include "tests/net/EchoServer.h"
#include "tests/net/TestClient.h"

// The echo server with a gate that can hold the worker inside "/version", and a
// record of what the worker saw.
class GatedServer : public EchoServer {
  public:
    using EchoServer::EchoServer;
    ~GatedServer() override {
        openGate();
        stop();
    }

    void closeGate() {
        std::lock_guard<std::mutex> guard(mutex_);
        gateOpen_ = false;
    }
    void openGate() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            gateOpen_ = true;
        }
        changed_.notify_all();
    }
    // Waits until the worker is held at the gate.
    bool waitUntilHeld() {
        std::unique_lock<std::mutex> guard(mutex_);
        return changed_.wait_for(guard, std::chrono::seconds(30), [this] { return held_; });
    }

    void handleRequest(std::unique_ptr<RequestItem> item) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            sessionIds_.push_back(item->sessionId);
            const HTTPParser::HeaderField* first = item->request.headers().find("Remote-IP");
            firstRemoteIp_ = first != nullptr ? first->value : "";
            peerAddress_ = item->request.getPeerAddress();
        }
        EchoServer::handleRequest(std::move(item));
    }

    bool handleVersion(const HTTPParser::HTTPRequest& request,
                       HTTPParser::HTTPResponse& response) override {
        std::unique_lock<std::mutex> guard(mutex_);
        held_ = !gateOpen_;
        changed_.notify_all();
        changed_.wait(guard, [this] { return gateOpen_; });
        held_ = false;
        guard.unlock();
        return EchoServer::handleVersion(request, response);
    }

    std::vector<uint32_t> sessionIds() {
        std::lock_guard<std::mutex> guard(mutex_);
        return sessionIds_;
    }
    std::string firstRemoteIp() {
        std::lock_guard<std::mutex> guard(mutex_);
        return firstRemoteIp_;
    }
    std::string peerAddress() {
        std::lock_guard<std::mutex> guard(mutex_);
        return peerAddress_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool gateOpen_ = true;
    bool held_ = false;
    std::vector<uint32_t> sessionIds_;
    std::string firstRemoteIp_;
    std::string peerAddress_;
};

// Polls a condition that another thread makes true; false when it never does.
inline bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 3000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(socket.start(0, ServerSocket::kHttpSession, &server));
        port = socket.port();
        ASSERT_NE(0, port);
    }
    void TearDown() override {
        server.openGate();
        socket.stop();
        server.stop();
    }

    ServerSocket socket;
    GatedServer server{&socket};
    uint16_t port = 0;
};

inline const std::string kFailureResponse =
    "HTTP/1.1 500 Request failed\r\nContent-Type: text/html\r\nConnection: close\r\n"
    "Content-Length: 0\r\n\r\n";
