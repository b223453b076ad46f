#pragma once

#include <sys/types.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <utility>

#include "http/BufferBudget.h"
#include "http/HTTPRequest.h"
#include "http/IOB.h"
#include "http/SharedAnswer.h"
#include "net/ArrivalOrder.h"
#include "platform/AutoLock.h"

template <class T>
class RequestHandler;

// One accepted connection. The I-O thread reads and writes it; the worker thread
// only appends response bytes through queueSend. A session answers one request at a
// time: while a request is being handled, or its response is still being written,
// nothing more is read from the connection.
class Session {
  public:
    using Owner = RequestHandler<HTTPParser::HTTPRequest>;

    Session(int socket, uint32_t sessionId, Owner* owner, std::string peerAddress);
    virtual ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Reads what the connection holds; false closes the connection.
    virtual bool onReadable();
    // Writes unsent response bytes; false closes the connection (an error, or the
    // last bytes of a response that asked for the close).
    virtual bool onWritable();
    virtual bool onError() { return true; }
    virtual bool onClose() { return true; }
    virtual bool onData(const char* data, int length) = 0;
    // Called once the send buffer is empty and no request is being handled: the
    // session may start on bytes it already holds. False closes the connection.
    virtual bool onSendDrained() { return true; }
    // Part of a request has arrived and the rest has not.
    virtual bool hasPartialRequest() { return false; }
    // No byte of a next request has arrived (empty lines between requests do not count).
    virtual bool isBetweenRequests() { return !hasPartialRequest(); }
    // The budget that buffered bytes are charged to, and the header field cap;
    // set once, before the first byte is read.
    virtual void configure(HTTPParser::BufferBudget* budget, uint32_t maxHeaderFields);

    // The server's one failure answer; the connection closes after it.
    static const char kFailureAnswer[];
    static const uint32_t kFailureAnswerLength;

    // Appends response bytes (worker thread), followed by a shared body if one is given,
    // which is written from its own bytes, never copied. A response ends the wait for one;
    // with closeAfterSend the connection closes once these bytes are written. An answer
    // beyond the free allowance must fit the buffer budget (a shared body is counted once
    // for all its senders): one that does not is replaced by the failure answer and the
    // close (false).
    using SharedBody = std::shared_ptr<const HTTPParser::SharedAnswer>;
    bool queueSend(const HTTPParser::IOB& bytes, bool closeAfterSend = false,
                   SharedBody body = nullptr);
    bool queueSend(const char* bytes, uint32_t length, bool closeAfterSend = false,
                   SharedBody body = nullptr);
    // Marks that a request of this session went to the queue.
    void setAwaitingResponse();
    // Counts bytes of a request on its way through the queue until its answer comes.
    void chargeInFlight(uint64_t bytes);
    // Grows with every byte read or written: the I-O thread compares it to tell a
    // stalled connection from a slow one.
    uint64_t progressCount();

    bool hasUnsentBytes();
    bool isAwaitingResponse();
    bool isPeerFinished();
    bool closeAfterSend();
    // Whether any answer was ever queued: a connection that never got one is still
    // waiting for its first request, not idle between requests.
    bool wasAnswered();
    // Whether the I-O thread should watch the connection for reading, writing, or neither.
    enum class Interest { None, Read, Write };
    Interest wantedInterest();

    int socket() const { return socket_; }
    uint32_t sessionId() const { return sessionId_; }
    const std::string& peerAddress() const { return peerAddress_; }
    // A trusted proxy's header names the client: from then on it is the peer (I-O thread,
    // before the first request is handed on).
    void setPeerAddress(std::string address) { peerAddress_ = std::move(address); }
    Owner* owner() const { return owner_; }

    // Bookkeeping of the I-O thread (and its StallWatch), which alone uses these.
    uint32_t registeredEvents = 0;
    bool closing = false;
    bool watchedForStall = false;
    std::list<Session*>::iterator stallPosition;
    int64_t lastProgressMs = 0;
    uint64_t seenProgress = 0;
    ArrivalPlace headPlace;   // waiting for its first request (I-O thread)
    ArrivalPlace idlePlace;   // idle keep-alive (under the socket's lock)
    bool idleNoted = false;   // what the I-O thread last told that list
    std::string peerKey;      // what the per-address count knows the peer by
    bool peerCounted = true;  // whether peerKey holds a place in that count

  protected:
    bool canRead();
    HTTPParser::BufferBudget* budget() const { return budget_; }

  private:
    // Buffers the bytes under the budget's rule for answers; false (nothing kept) if not.
    bool appendAnswerLocked(const char* bytes, uint32_t length) REQUIRES(lock_);
    bool sendingLocked() REQUIRES(lock_) { return sendBuffer_.length() > 0 || sharedBody_; }
    // Writes what is unsent of the buffer and the shared body with one call; the bytes
    // written, or -1 with errno.
    ssize_t sendSomeLocked() REQUIRES(lock_);
    void finishSendLocked() REQUIRES(lock_);

    int socket_;
    CriticalSection lock_;
    HTTPParser::IOB sendBuffer_ GUARDED_BY(lock_);
    SharedBody sharedBody_ GUARDED_BY(lock_);   // sent after sendBuffer_
    uint32_t sentCount_ GUARDED_BY(lock_) = 0;  // of sendBuffer_ and sharedBody_ together
    bool closeAfterSend_ GUARDED_BY(lock_) = false;
    bool awaitingResponse_ GUARDED_BY(lock_) = false;
    bool answered_ GUARDED_BY(lock_) = false;
    // Readability reported while a request is in flight: stop watching until it is answered.
    bool inputPaused_ GUARDED_BY(lock_) = false;
    bool peerFinished_ GUARDED_BY(lock_) = false;
    HTTPParser::BufferBudget* budget_ = nullptr;
    uint64_t sendCharged_ GUARDED_BY(lock_) = 0;
    uint64_t inFlightCharged_ GUARDED_BY(lock_) = 0;
    uint64_t progress_ GUARDED_BY(lock_) = 0;
    uint32_t sessionId_;
    Owner* owner_;
    std::string peerAddress_;
};
