#pragma once

#include <functional>

#include "http/HTTPRequestReader.h"
#include "net/ProxyGate.h"
#include "net/Session.h"

// A connection that speaks HTTP/1.1: assembles requests and hands each complete
// one, with the peer's address as the connection knows it, to the request queue.
class HTTPSession : public Session {
  public:
    using Session::Session;
    ~HTTPSession() override = default;

    bool onData(const char* data, int length) override;
    bool onSendDrained() override;
    bool hasPartialRequest() override { return reader_.isPartial(); }
    bool isBetweenRequests() override {
        return reader_.state() == HTTPParser::HTTPRequestReader::Idle;
    }
    void configure(HTTPParser::BufferBudget* budget, uint32_t maxHeaderFields) override;

    // Asked once a trusted proxy's header names a client: false refuses the connection.
    using CarriedAddressCheck = std::function<bool(Session&, const ProxyHeader&)>;
    // The peer is a trusted proxy: its connection must begin with a PROXY header. Set before
    // the first byte is read; without it, a PROXY header is refused.
    void requireProxyHeader(CarriedAddressCheck admit);

  private:
    // Passes the front of the connection through the gate; false when it is refused (a
    // refused header is counted here, a refused address by the check). On
    // true, data and length are what remains of the piece for the reader.
    bool passGate(const char*& data, int& length);
    // Acts on the reader's state: interim answer, complete request, or failure.
    bool processReader();

    HTTPParser::HTTPRequestReader reader_;
    ProxyGate gate_;
    CarriedAddressCheck admitCarried_;
    // The refusal is counted once, however often the reader is asked again.
    bool refusalCounted_ = false;
};
