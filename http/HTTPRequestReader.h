#pragma once

#include <cstdint>

#include "http/HTTPRequest.h"
#include "http/Header.h"
#include "http/IOB.h"

namespace HTTPParser {

// Assembles one request at a time from the bytes of a connection and decides when
// it is complete. Bytes behind a complete request are kept: they start the next one.
class HTTPRequestReader {
  public:
    enum State { Idle = 0, Head = 1, Body = 2, Complete = 3, Failed = 4 };

    HTTPRequestReader() = default;
    HTTPRequestReader(const HTTPRequestReader&) = delete;
    HTTPRequestReader& operator=(const HTTPRequestReader&) = delete;

    // Adds received bytes and advances the state. A request that cannot fit into the
    // buffer limit, or a malformed chunked body, ends in Failed.
    void feed(const char* data, int length);
    bool isComplete() const { return state_ == Complete; }
    bool isFailed() const { return state_ == Failed; }
    State state() const { return state_; }

    // Fills request from the complete request's bytes: the body is exactly its
    // Content-Length bytes or its decoded chunks. False when there is no request.
    bool buildRequest(HTTPRequest& request) const;

    // Drops the current request and starts the next one from the bytes behind it,
    // which may complete it at once.
    void nextRequest();
    // Forgets everything, following bytes included.
    void reset();

    // True once per request whose head asked for "100-continue" while its body is
    // still missing: the client waits for the interim response.
    bool takeContinueRequest();

    // Bytes held for the current request and the ones behind it.
    uint32_t bufferedLength() const { return buffer_.length() - start_; }
    // Whether the buffer holds a memory block (an idle connection should hold a small one).
    bool holdsBlock() const { return buffer_.data() != nullptr; }

  private:
    const char* current() const { return buffer_.chars() + start_; }
    uint32_t currentLength() const { return buffer_.length() - start_; }
    void advance();
    void parseHead(uint32_t headEnd);
    void checkBody();
    void compact();
    // Clears what was learnt about the current request; the bytes stay.
    void forgetCurrentRequest();
    // Drops every byte, giving back a block that grew large.
    void emptyBuffer();

    IOB buffer_;
    uint32_t start_ = 0;  // where the current request starts in buffer_
    Header headers_;
    bool chunked_ = false;
    int64_t contentLength_ = 0;
    uint32_t bodyOffset_ = 0;
    uint32_t headScanFrom_ = 0;
    uint32_t chunkScanFrom_ = 0;   // relative to the body start
    uint32_t chunkedBodyEnd_ = 0;  // behind the last chunk's line, once found
    uint32_t requestEnd_ = 0;
    bool continueRequested_ = false;
    State state_ = Idle;
};

}  // namespace HTTPParser
