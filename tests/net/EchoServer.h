#pragma once

#include <cstdlib>
#include <string>

#include "net/HttpServer.h"

// An HttpServer whose handlers exercise the transport: the whitelist push echoes
// its body, the whitelist pull sends "startIndex" bytes, the training pull fails
// after filling the response, and the training push echoes compressed.
class EchoServer : public HttpServer {
  public:
    using HttpServer::HttpServer;
    ~EchoServer() override { stop(); }

    bool handlePostWhitelistUpdates(const HTTPParser::HTTPRequest& request,
                                    HTTPParser::HTTPResponse& response) override {
        const HTTPParser::IOB& body = request.getBody();
        if (body.length() > 0)
            response.getBody().append(body.data(), body.length());
        response.add("newIndex", std::to_string(body.length()));
        return true;
    }

    bool handleGetWhitelistUpdates(const HTTPParser::HTTPRequest& request,
                                   HTTPParser::HTTPResponse& response) override {
        const HTTPParser::HeaderField* start = request.headers().find("startIndex");
        long count = start != nullptr ? std::atol(start->getValue().c_str()) : 0;
        for (long i = 0; i < count; ++i) {
            response.getBody().appendByte(static_cast<uint8_t>('a' + i % 26));
        }
        response.add("newIndex", std::to_string(count));
        return true;
    }

    bool handleGetTrainingUpdates(const HTTPParser::HTTPRequest&,
                                  HTTPParser::HTTPResponse& response) override {
        response.getBody().append("partial", 7);
        response.add("newIndex", "7");
        return false;
    }

    bool handlePostTrainingUpdates(const HTTPParser::HTTPRequest& request,
                                   HTTPParser::HTTPResponse& response) override {
        response.add("Content-Encoding", "deflate");
        return handlePostWhitelistUpdates(request, response);
    }
};
