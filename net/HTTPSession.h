#pragma once

#include "http/HTTPRequestReader.h"
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

  private:
    // Acts on the reader's state: interim answer, complete request, or failure.
    bool processReader();

    HTTPParser::HTTPRequestReader reader_;
    // The refusal is counted once, however often the reader is asked again.
    bool refusalCounted_ = false;
};
