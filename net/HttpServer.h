#pragma once

#include <memory>

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "net/RequestHandler.h"

// The request queue of the sync server: routes each request by its path to one
// of the endpoint handlers and sends the written response back to its connection.
// The sync service derives from it and overrides the handlers.
class HttpServer : public RequestHandler<HTTPParser::HTTPRequest> {
  public:
    explicit HttpServer(ServerSocket* responder) : RequestHandler(responder) {}
    // Stops the worker here, while the handlers it may be running still exist.
    ~HttpServer() override;

    void handleRequest(std::unique_ptr<RequestItem> item) override;
    // Case-insensitive match of the path; false (no handler) for unknown paths.
    virtual bool dispatch(const HTTPParser::HTTPRequest& request,
                          HTTPParser::HTTPResponse& response);

    // Each handler fills the response and returns true, or returns false for the
    // failure response.
    virtual bool handleVersion(const HTTPParser::HTTPRequest& request,
                               HTTPParser::HTTPResponse& response);
    virtual bool handleGetWhitelistUpdates(const HTTPParser::HTTPRequest& request,
                                           HTTPParser::HTTPResponse& response);
    virtual bool handlePostWhitelistUpdates(const HTTPParser::HTTPRequest& request,
                                            HTTPParser::HTTPResponse& response);
    virtual bool handleGetTrainingUpdates(const HTTPParser::HTTPRequest& request,
                                          HTTPParser::HTTPResponse& response);
    virtual bool handlePostTrainingUpdates(const HTTPParser::HTTPRequest& request,
                                           HTTPParser::HTTPResponse& response);

    // The response bytes for a request: "200" with the handler's fields and body,
    // or the fixed failure response, which closes the connection.
    HTTPParser::HTTPResponse respond(const HTTPParser::HTTPRequest& request);

    static void makeFailureResponse(HTTPParser::HTTPResponse& response);
    // A fresh "200" response with an empty body, as handlers receive it.
    static HTTPParser::HTTPResponse makeOkResponse();
    // Sends a response to its connection; callable from any thread, so that an answer can
    // be completed after the worker has moved on (the connection reads no further request
    // until then, which keeps the answers in the order of the requests).
    void sendResponseTo(uint32_t sessionId, const HTTPParser::HTTPRequest& request,
                        HTTPParser::HTTPResponse& response);
};
