#include "net/HTTPSession.h"

#include "metrics/Metrics.h"
#include "net/RequestHandler.h"

namespace {

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

void HTTPSession::configure(HTTPParser::BufferBudget* budget, uint32_t maxHeaderFields) {
    Session::configure(budget, maxHeaderFields);
    reader_.setLimits(maxHeaderFields, budget);
}

void HTTPSession::requireProxyHeader(CarriedAddressCheck admit) {
    gate_ = ProxyGate(ProxyGate::Rule::RequireHeader);
    admitCarried_ = std::move(admit);
}

bool HTTPSession::onData(const char* data, int length) {
    if (!gate_.isDecided() && !passGate(data, length)) {
        queueSend(kFailureAnswer, kFailureAnswerLength, true);
        return true;
    }
    if (length > 0)
        reader_.feed(data, length);
    return processReader();
}

bool HTTPSession::passGate(const char*& data, int& length) {
    size_t used = 0;
    const ProxyGate::Outcome outcome = gate_.feed(data, static_cast<size_t>(length), used);
    if (outcome == ProxyGate::Outcome::Refused) {
        Metrics::instance().refusedProxyHeader();
        return false;
    }
    data += used;
    length -= static_cast<int>(used);
    if (outcome == ProxyGate::Outcome::Waiting)
        return true;
    if (!gate_.held().empty())
        reader_.feed(gate_.held().data(), static_cast<int>(gate_.held().size()));
    const ProxyHeader& header = gate_.header();
    if (gate_.rule() == ProxyGate::Rule::RequireHeader &&
        header.source() != ProxyHeader::Source::None) {
        if (!admitCarried_ || !admitCarried_(*this, header))
            return false;
        setPeerAddress(header.sourceText());
    }
    return true;
}

bool HTTPSession::onSendDrained() {
    return processReader();
}

bool HTTPSession::processReader() {
    if (reader_.isFailed())
        return false;
    if (reader_.isRefused()) {
        if (!refusalCounted_)
            Metrics::instance().closedForBudget();
        refusalCounted_ = true;
        // The failure answer, for a request the buffer budget has no room for.
        queueSend(kFailureAnswer, kFailureAnswerLength, true);
        return true;
    }
    if (reader_.isRejected()) {
        // The same failure answer, for a head whose fields readers could split differently.
        queueSend(kFailureAnswer, kFailureAnswerLength, true);
        return true;
    }
    if (reader_.takeContinueRequest()) {
        return queueSend(kContinue, sizeof kContinue - 1);
    }
    if (!reader_.isComplete())
        return true;

    HTTPParser::HTTPRequest request;
    if (!reader_.buildRequest(request))
        return false;
    // The peer is what the connection says, never what the client claims.
    request.headers().remove("Remote-IP");
    request.setPeerAddress(peerAddress());
    if (owner() == nullptr)
        return false;
    // Marked first: the worker may answer before enqueue returns.
    setAwaitingResponse();
    chargeInFlight(request.getBody().capacity());
    if (!owner()->enqueue(sessionId(), std::move(request)))
        return false;
    reader_.nextRequest();
    return true;
}
