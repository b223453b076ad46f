#pragma once

#include "net/HttpServer.h"

// The sync protocol: the four collection endpoints with their per-host access
// check and access-log line, on top of the generic request queue.
class SyncHttpServer : public HttpServer {
  public:
    explicit SyncHttpServer(ServerSocket* responder);

    bool handleGetWhitelistUpdates(const HTTPParser::HTTPRequest& request,
                                   HTTPParser::HTTPResponse& response) override;
    bool handlePostWhitelistUpdates(const HTTPParser::HTTPRequest& request,
                                    HTTPParser::HTTPResponse& response) override;
    bool handleGetTrainingUpdates(const HTTPParser::HTTPRequest& request,
                                  HTTPParser::HTTPResponse& response) override;
    bool handlePostTrainingUpdates(const HTTPParser::HTTPRequest& request,
                                   HTTPParser::HTTPResponse& response) override;

    // Without address entries in the access list "User-Host" decides, and a request without
    // one is denied whatever the default rights say. With address entries the connection's
    // peer address must match one; "User-Host" can then only narrow its rights.
    bool checkAccess(const HTTPParser::HTTPRequest& request, bool forGet);
    void logAccess(const HTTPParser::HTTPRequest& request, HTTPParser::HTTPResponse& response);

  private:
    enum class Collection { Whitelist, TrainingDb };
    bool handlePull(Collection collection, const HTTPParser::HTTPRequest& request,
                    HTTPParser::HTTPResponse& response);
    bool handlePush(Collection collection, const HTTPParser::HTTPRequest& request,
                    HTTPParser::HTTPResponse& response);
    // A denied client gets its own index back, unchanged, so it does not lose its place.
    bool answerDenied(const HTTPParser::HTTPRequest& request, HTTPParser::HTTPResponse& response);
};
