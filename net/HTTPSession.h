#pragma once

#include "http/HTTPRequestReader.h"
#include "net/Session.h"

// A connection that speaks HTTP/1.1: assembles requests and hands each complete
// one, with the peer's address in "Remote-IP", to the request queue.
class HTTPSession : public Session {
  public:
    using Session::Session;
    ~HTTPSession() override = default;

    bool onData(const char* data, int length) override;
    bool onSendDrained() override;

  private:
    // Acts on the reader's state: interim answer, complete request, or failure.
    bool processReader();

    HTTPParser::HTTPRequestReader reader_;
};
