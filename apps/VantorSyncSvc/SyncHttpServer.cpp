#include "apps/VantorSyncSvc/SyncHttpServer.h"

#include <cstdio>

#include "apps/VantorSyncSvc/AccessLogLine.h"
#include "apps/VantorSyncSvc/SvcLog.h"
#include "apps/VantorSyncSvc/SyncService.h"
#include "http/MessageText.h"
#include "http/SyncEndpoint.h"
#include "metrics/Metrics.h"
#include "platform/NumberText.h"

using HTTPParser::HTTPRequest;
using HTTPParser::HTTPResponse;

namespace {

Metrics::Collection metricsCollection(bool whitelist) {
    return whitelist ? Metrics::Collection::Whitelist : Metrics::Collection::TrainingDb;
}

void countSync(bool whitelist, Metrics::SyncOperation operation, Metrics::SyncResult result) {
    Metrics::instance().syncDone(metricsCollection(whitelist), operation, result);
}

std::string formatIndex(uint32_t index) {
    char text[100];
    std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(index));
    return text;
}

// A value goes back into a header line only if it cannot break out of it.
bool holdsControlBytes(const std::string& value) {
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

std::string fieldValueOr(const HTTPRequest& request, const char* name, const char* fallback) {
    const HTTPParser::HeaderField* field = request.headers().find(name);
    return field ? field->getValue() : std::string(fallback);
}

}  // namespace

SyncHttpServer::SyncHttpServer(ServerSocket* responder) : HttpServer(responder) {}

void SyncHttpServer::handleRequest(std::unique_ptr<RequestItem> item) {
    const HTTPParser::SyncEndpoint endpoint = HTTPParser::syncEndpointOf(item->request.getPath());
    if (!HTTPParser::isPushEndpoint(endpoint))
        return HttpServer::handleRequest(std::move(item));
    const bool whitelist = endpoint == HTTPParser::SyncEndpoint::PostWhitelist;
    if (!rightsFor(item->request).allowPost) {
        countSync(whitelist, Metrics::SyncOperation::Push, Metrics::SyncResult::Denied);
        HTTPResponse response = makeOkResponse();
        answerDenied(item->request, response);
        return sendResponseTo(item->sessionId, item->request, response);
    }
    if (SyncService::instance().submitPush(
            whitelist ? Collection::Whitelist : Collection::TrainingDb, item))
        return;
    // No room in the committer's queue: the push fails without waiting.
    completePush(std::move(item), false, 0);
}

void SyncHttpServer::completePush(std::unique_ptr<RequestItem> item, bool ok, uint32_t newIndex) {
    const bool whitelist = HTTPParser::syncEndpointOf(item->request.getPath()) ==
                           HTTPParser::SyncEndpoint::PostWhitelist;
    countSync(whitelist, Metrics::SyncOperation::Push,
              ok ? Metrics::SyncResult::Ok : Metrics::SyncResult::Failed);
    if (whitelist && ok)
        SyncService::instance().dropStaleWhitelistSnapshot();
    HTTPResponse response = makeOkResponse();
    if (ok)
        response.headers().add("newIndex", formatIndex(newIndex));
    logAccess(item->request, response);
    if (!ok)
        makeFailureResponse(response);
    sendResponseTo(item->sessionId, item->request, response);
}

AccessRights SyncHttpServer::rightsFor(const HTTPRequest& request) {
    const HTTPParser::HeaderField* field = request.headers().find("User-Host");
    const std::string host = field != nullptr ? field->getValue() : std::string();
    // The peer address is the connection's own, or the client's that a trusted proxy's header
    // names; a client's "Remote-IP" field plays no part.
    return SyncService::instance().rightsForClient(request.getPeerAddress(),
                                                   field != nullptr ? &host : nullptr);
}

void SyncHttpServer::logAccess(const HTTPRequest& request, HTTPResponse& response) {
    if (!SyncService::instance().getValues().logEnabled)
        return;
    AccessLogLine line;
    // The address the connection came from; a client cannot choose what is logged.
    line.peer = request.getPeerAddress().empty() ? "unknown_ip" : request.getPeerAddress();
    line.host = fieldValueOr(request, "User-Host", "unknown");
    line.method = request.getMethod();
    line.path = request.getPath();
    line.status = response.getStatusCode();
    line.requestBytes = static_cast<int>(request.getBody().length());
    line.responseBytes = static_cast<int>(response.bodyLength());
    SvcLog::instance().write("%s", line.text().c_str());
}

bool SyncHttpServer::answerDenied(const HTTPRequest& request, HTTPResponse& response) {
    const HTTPParser::HeaderField* start = request.headers().find("startIndex");
    if (start != nullptr && !holdsControlBytes(start->value))
        response.headers().add("newIndex", start->value);
    logAccess(request, response);
    return true;
}

bool SyncHttpServer::handlePull(Collection collection, const HTTPRequest& request,
                                HTTPResponse& response) {
    const HTTPParser::HeaderField* start = request.headers().find("startIndex");
    const bool whitelist = collection == Collection::Whitelist;
    if (!rightsFor(request).allowGet) {
        countSync(whitelist, Metrics::SyncOperation::Pull, Metrics::SyncResult::Denied);
        return answerDenied(request, response);
    }
    uint32_t startIndex = start ? static_cast<uint32_t>(leadingNumber(start->value)) : 0;
    uint32_t newIndex = 0;
    SyncService& service = SyncService::instance();
    SnapshotCache::Answer snapshot;
    bool ok = collection == Collection::Whitelist
                  ? service.getWhitelistUpdates(startIndex, response.getBody(), newIndex, &snapshot)
                  : service.getTrainingDbUpdates(startIndex, response.getBody(), newIndex);
    response.setSharedBody(std::move(snapshot));
    if (ok)
        response.headers().add("newIndex", formatIndex(newIndex));
    countSync(whitelist, Metrics::SyncOperation::Pull,
              ok ? Metrics::SyncResult::Ok : Metrics::SyncResult::Failed);
    logAccess(request, response);
    return ok;
}

bool SyncHttpServer::handleGetWhitelistUpdates(const HTTPRequest& request, HTTPResponse& response) {
    return handlePull(Collection::Whitelist, request, response);
}

bool SyncHttpServer::handleGetTrainingUpdates(const HTTPRequest& request, HTTPResponse& response) {
    return handlePull(Collection::TrainingDb, request, response);
}
