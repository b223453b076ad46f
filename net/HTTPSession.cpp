#include "net/HTTPSession.h"

#include "net/RequestHandler.h"

namespace {

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

bool HTTPSession::onData(const char* data, int length) {
    reader_.feed(data, length);
    return processReader();
}

bool HTTPSession::onSendDrained() {
    return processReader();
}

bool HTTPSession::processReader() {
    if (reader_.isFailed())
        return false;
    if (reader_.takeContinueRequest()) {
        return queueSend(kContinue, sizeof kContinue - 1);
    }
    if (!reader_.isComplete())
        return true;

    HTTPParser::HTTPRequest request;
    if (!reader_.buildRequest(request))
        return false;
    request.add("Remote-IP", peerAddress());
    if (owner() == nullptr)
        return false;
    // Marked first: the worker may answer before enqueue returns.
    setAwaitingResponse();
    if (!owner()->enqueue(sessionId(), request))
        return false;
    reader_.nextRequest();
    return true;
}
