#include "net/HttpServer.h"

#include "http/IOB.h"
#include "http/MessageText.h"
#include "http/SyncEndpoint.h"
#include "metrics/Metrics.h"
#include "net/ServerSocket.h"

using HTTPParser::HTTPRequest;
using HTTPParser::HTTPResponse;

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::makeFailureResponse(HTTPResponse& response) {
    response.setFirstLine("HTTP/1.1 500 Request failed");
    HTTPParser::Header fields;
    fields.add("Content-Type", "text/html");
    fields.add("Connection", "close");
    fields.add("Content-Length", "0");
    response.headers().assign(fields);
    response.getBody().clear();
    response.setSharedBody(nullptr);
    response.setCloseAfterSend(true);
}

HTTPResponse HttpServer::makeOkResponse() {
    HTTPResponse response;
    response.setFirstLine("HTTP/1.1 200 OK");
    response.add("Content-Length", "0");
    return response;
}

HTTPResponse HttpServer::respond(const HTTPRequest& request) {
    HTTPResponse response = makeOkResponse();
    if (!dispatch(request, response))
        makeFailureResponse(response);
    return response;
}

void HttpServer::handleRequest(std::unique_ptr<RequestItem> item) {
    HTTPResponse response = respond(item->request);
    sendResponseTo(item->sessionId, item->request, response);
}

void HttpServer::sendResponseTo(uint32_t sessionId, const HTTPRequest& request,
                                HTTPResponse& response) {
    if (!response.getCloseAfterSend()) {
        if (!request.keepsConnection()) {
            response.add("Connection", "close");
            response.setCloseAfterSend(true);
        } else if (HTTPParser::equalsIgnoringCase(request.getVersion(), "HTTP/1.0")) {
            // An HTTP/1.0 client keeps the connection only when told it may.
            response.add("Connection", "keep-alive");
        }
    }
    HTTPParser::IOB bytes;
    if (!response.serialize(bytes)) {
        // A response too large for any buffer cannot be sent; the client learns so.
        makeFailureResponse(response);
        response.serialize(bytes);
    }
    // A HEAD answer is the head a GET would get, with "Content-Length" telling the
    // body's length, but never the body: the client would read it as the next answer.
    std::shared_ptr<const HTTPParser::SharedAnswer> sharedBody = response.sharedBody();
    if (request.getMethod() == "HEAD") {
        bytes.setLength(response.serializedHeadLength());
        sharedBody.reset();
    }
    Metrics::instance().requestAnswered(
        request.getPath(), response.getStatusCode(), request.getBody().length(),
        bytes.length() + (sharedBody != nullptr ? sharedBody->length() : 0));
    if (responder() != nullptr) {
        // A connection that went away meanwhile simply drops the answer.
        responder()->sendResponse(sessionId, bytes, response.getCloseAfterSend(),
                                  std::move(sharedBody));
    }
}

bool HttpServer::dispatch(const HTTPRequest& request, HTTPResponse& response) {
    using HTTPParser::SyncEndpoint;
    switch (HTTPParser::syncEndpointOf(request.getPath())) {
        case SyncEndpoint::Version:
            return handleVersion(request, response);
        case SyncEndpoint::PostWhitelist:
            return handlePostWhitelistUpdates(request, response);
        case SyncEndpoint::GetWhitelist:
            return handleGetWhitelistUpdates(request, response);
        case SyncEndpoint::PostTrainingDb:
            return handlePostTrainingUpdates(request, response);
        case SyncEndpoint::GetTrainingDb:
            return handleGetTrainingUpdates(request, response);
        case SyncEndpoint::Unknown:
            break;
    }
    return false;
}

bool HttpServer::handleVersion(const HTTPRequest&, HTTPResponse& response) {
    return response.getBody().append("1.0", 3);
}

bool HttpServer::handleGetWhitelistUpdates(const HTTPRequest&, HTTPResponse&) {
    return false;
}
bool HttpServer::handlePostWhitelistUpdates(const HTTPRequest&, HTTPResponse&) {
    return false;
}
bool HttpServer::handleGetTrainingUpdates(const HTTPRequest&, HTTPResponse&) {
    return false;
}
bool HttpServer::handlePostTrainingUpdates(const HTTPRequest&, HTTPResponse&) {
    return false;
}
