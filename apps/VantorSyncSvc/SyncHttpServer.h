#pragma once

#include "config/SettingsData.h"
#include "net/HttpServer.h"

// The sync protocol: the four collection endpoints with their per-host access
// check and access-log line, on top of the generic request queue.
class SyncHttpServer : public HttpServer {
  public:
    explicit SyncHttpServer(ServerSocket* responder);

    enum class Collection { Whitelist, TrainingDb };

    // A push is decided here, once: allowed, it goes to its collection's committer (the one
    // way into a store), which answers it once durable; denied, it is answered at once.
    // Everything else is dispatched and answered here and now, so the push handlers of the
    // dispatch are left as they are: no push reaches them.
    void handleRequest(std::unique_ptr<RequestItem> item) override;
    // The answer to a push the committer has finished with (committer thread).
    void completePush(std::unique_ptr<RequestItem> item, bool ok, uint32_t newIndex);

    bool handleGetWhitelistUpdates(const HTTPParser::HTTPRequest& request,
                                   HTTPParser::HTTPResponse& response) override;
    bool handleGetTrainingUpdates(const HTTPParser::HTTPRequest& request,
                                  HTTPParser::HTTPResponse& response) override;

    void logAccess(const HTTPParser::HTTPRequest& request, HTTPParser::HTTPResponse& response);

  protected:
    // The rights of the client behind a request, read from the settings of the moment; each
    // request reads them exactly once. Without address entries in the access list
    // "User-Host" decides, and a request without one is denied whatever the default rights
    // say. With address entries the connection's peer address must match one; "User-Host"
    // can then only narrow its rights.
    virtual AccessRights rightsFor(const HTTPParser::HTTPRequest& request);

  private:
    bool handlePull(Collection collection, const HTTPParser::HTTPRequest& request,
                    HTTPParser::HTTPResponse& response);
    // A denied client gets its own index back, unchanged, so it does not lose its place.
    bool answerDenied(const HTTPParser::HTTPRequest& request, HTTPParser::HTTPResponse& response);
};
