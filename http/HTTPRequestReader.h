#pragma once

#include <cstdint>

#include "http/BufferBudget.h"
#include "http/HTTPRequest.h"
#include "http/Header.h"
#include "http/IOB.h"

namespace HTTPParser {

// Assembles one request at a time from the bytes of a connection and decides when
// it is complete. Bytes behind a complete request are kept: they start the next one.
// Every search resumes where the previous one stopped, so a request that trickles in
// costs time in proportion to its length, not to its length squared.
class HTTPRequestReader {
  public:
    enum State {
        Idle = 0,
        Head = 1,
        Body = 2,
        Complete = 3,
        Failed = 4,
        Refused = 5,
        Rejected = 6
    };

    // A head that has not ended within this many bytes is not from a real client.
    static constexpr uint32_t kMaxHeadLength = 64 * 1024;
    // Bytes every connection may buffer without asking the budget: small requests
    // are always served, however many large ones hold the budget.
    static constexpr uint32_t kFreeAllowance = 16 * 1024;
    static constexpr uint32_t kDefaultMaxHeaderFields = 100;

    HTTPRequestReader() = default;
    ~HTTPRequestReader();
    HTTPRequestReader(const HTTPRequestReader&) = delete;
    HTTPRequestReader& operator=(const HTTPRequestReader&) = delete;

    // Header fields allowed per request, and the budget that buffer growth beyond
    // kFreeAllowance is charged to (none: unlimited). Set before the first feed.
    void setLimits(uint32_t maxHeaderFields, BufferBudget* budget);

    // Adds received bytes and advances the state. Failed (the connection should
    // close without an answer): a request beyond the buffer limit, a head too long
    // or with too many fields, ambiguous framing, a malformed chunked body.
    // Refused (the connection should get the failure answer and close): the budget
    // has no room for the bytes, whatever part of the request they carry.
    // Rejected (the failure answer and a close as well): a head whose lines readers
    // could split differently (see headIsWellFormed).
    void feed(const char* data, int length);
    bool isComplete() const { return state_ == Complete; }
    bool isFailed() const { return state_ == Failed; }
    bool isRefused() const { return state_ == Refused; }
    bool isRejected() const { return state_ == Rejected; }
    // Part of a request has arrived and the rest has not.
    bool isPartial() const { return state_ == Head || state_ == Body; }
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
    // Whether the buffer holds a memory block (an idle connection holds none).
    bool holdsBlock() const { return buffer_.data() != nullptr; }
    // Bytes charged to the budget for this reader's buffer.
    uint64_t chargedBytes() const { return charged_; }

  private:
    const char* current() const { return buffer_.chars() + start_; }
    uint32_t currentLength() const { return buffer_.length() - start_; }
    void advance();
    // Searches the head's empty line (CR LF or bare LF line ends) from headScanFrom_.
    bool findHeadEnd(uint32_t* headEnd);
    void parseHead(uint32_t headEnd);
    // Grows the buffer to hold needed bytes, charging the budget; false if refused.
    bool makeRoom(uint64_t needed);
    void checkBody();
    void compact();
    // Clears what was learnt about the current request; the bytes stay.
    void forgetCurrentRequest();
    // Drops every byte and gives the block back.
    void emptyBuffer();

    IOB buffer_;
    uint32_t start_ = 0;  // where the current request starts in buffer_
    Header headers_;
    bool chunked_ = false;
    int64_t contentLength_ = 0;
    uint32_t bodyOffset_ = 0;
    uint32_t headScanFrom_ = 0;
    uint32_t chunkScanFrom_ = 0;    // relative to the body start
    uint32_t chunkedBodyEnd_ = 0;   // behind the last chunk's line, once found
    uint32_t trailerScanFrom_ = 0;  // relative to the body start
    uint64_t expectedLength_ = 0;   // buffer bytes the current request needs, when known
    uint32_t maxHeaderFields_ = kDefaultMaxHeaderFields;
    BufferBudget* budget_ = nullptr;
    uint64_t charged_ = 0;
    uint32_t requestEnd_ = 0;
    bool continueRequested_ = false;
    State state_ = Idle;
};

}  // namespace HTTPParser
