#include "net/HttpServer.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/net/EchoServer.h"

using HTTPParser::HTTPRequest;
using HTTPParser::HTTPResponse;
using HTTPParser::IOB;

namespace {

HTTPRequest requestFor(const std::string& target) {
    HTTPRequest request;
    request.setFirstLine("GET " + target + " HTTP/1.1");
    return request;
}

std::string wireBytes(HTTPResponse& response) {
    IOB out;
    EXPECT_TRUE(response.serialize(out));
    return std::string(out.chars(), out.length());
}

}  // namespace

TEST(HttpServerDispatch, PathsMatchWithoutCaseAfterDecoding) {
    HttpServer server(nullptr);
    for (const char* target : {"/version", "/VERSION", "/version?x=1", "/%76ersion", "/VerSion?"}) {
        HTTPResponse response = server.respond(requestFor(target));
        EXPECT_EQ(200, response.getStatusCode()) << target;
        EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n1.0", wireBytes(response));
    }
    for (const char* target : {"/version/", "/versions", "version", "", "/get_wl_updates"}) {
        HTTPResponse response = server.respond(requestFor(target));
        EXPECT_EQ(500, response.getStatusCode()) << target;
        EXPECT_TRUE(response.getCloseAfterSend());
    }
}

TEST(HttpServerDispatch, EachPathReachesItsOwnHandler) {
    struct Recorder : HttpServer {
        using HttpServer::HttpServer;
        std::string called;
        bool record(const char* name) {
            called = name;
            return true;
        }
        bool handleGetWhitelistUpdates(const HTTPRequest&, HTTPResponse&) override {
            return record("getWl");
        }
        bool handlePostWhitelistUpdates(const HTTPRequest&, HTTPResponse&) override {
            return record("postWl");
        }
        bool handleGetTrainingUpdates(const HTTPRequest&, HTTPResponse&) override {
            return record("getTs");
        }
        bool handlePostTrainingUpdates(const HTTPRequest&, HTTPResponse&) override {
            return record("postTs");
        }
    } server(nullptr);
    const std::pair<const char*, const char*> routes[] = {{"/Get_WL_Updates", "getWl"},
                                                          {"/post_wl_updates", "postWl"},
                                                          {"/get_ts_updates?a=b", "getTs"},
                                                          {"/POST_TS_UPDATES", "postTs"}};
    for (const auto& [target, handler] : routes) {
        server.called.clear();
        EXPECT_EQ(200, server.respond(requestFor(target)).getStatusCode());
        EXPECT_EQ(handler, server.called);
    }
}

TEST(HttpServerDispatch, FailedHandlerLeavesOnlyTheFixedFailureResponse) {
    EchoServer server(nullptr);
    HTTPResponse response = server.respond(requestFor("/get_ts_updates"));
    EXPECT_EQ(
        "HTTP/1.1 500 Request failed\r\nContent-Type: text/html\r\nConnection: close\r\n"
        "Content-Length: 0\r\n\r\n",
        wireBytes(response));
}

TEST(HttpServerDispatch, HandlerFieldsAndContentLengthOrder) {
    EchoServer server(nullptr);
    HTTPRequest withBody = requestFor("/post_wl_updates");
    withBody.getBody().append("12345", 5);
    HTTPResponse filled = server.respond(withBody);
    EXPECT_EQ("HTTP/1.1 200 OK\r\nnewIndex: 5\r\nContent-Length: 5\r\n\r\n12345",
              wireBytes(filled));

    HTTPResponse empty = server.respond(requestFor("/post_wl_updates"));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nnewIndex: 0\r\n\r\n", wireBytes(empty));
}
