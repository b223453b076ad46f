#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>

#include "http/HTTPRequest.h"
#include "platform/AutoLock.h"

class ServerSocket;

// Root of the request handlers.
class RequestHandlerBase {
  public:
    virtual ~RequestHandlerBase() = default;
};

// One complete request on its way from a connection to the worker.
struct RequestItem {
    uint32_t sessionId = 0;
    HTTPParser::HTTPRequest request;
};

// The request queue and its single worker thread: requests from all connections
// are handled one after another, in the order in which they arrived.
template <class T>
class RequestHandler : public RequestHandlerBase {
  public:
    static constexpr uint32_t kQueueLimit = 10000;

    explicit RequestHandler(ServerSocket* responder) : responder_(responder) {}
    ~RequestHandler() override;

    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    // Takes ownership of item. Runs on the worker thread only.
    virtual void handleRequest(std::unique_ptr<RequestItem> item) { item.reset(); }

    // Queues a copy of request (I-O thread). False when more than kQueueLimit
    // requests are already waiting, or without memory.
    bool enqueue(uint32_t sessionId, const T& request);
    // The same, taking over the body instead of copying it: a large body is then
    // held once, not twice.
    bool enqueue(uint32_t sessionId, T&& request);

    // Starts the worker; true when it runs (also when it already ran).
    bool start();
    // Ends the worker after the request in hand and discards the waiting ones.
    void stop();

    size_t waitingCount() const;
    bool isRunning() const;

  protected:
    ServerSocket* responder() const { return responder_; }

  private:
    void workerLoop();

    ServerSocket* const responder_;
    std::deque<std::unique_ptr<RequestItem>> queue_ GUARDED_BY(lock_);
    uint32_t queueLimit_ GUARDED_BY(lock_) = kQueueLimit;
    mutable CriticalSection lock_;
    std::condition_variable_any itemSignal_;
    bool stopping_ GUARDED_BY(lock_) = false;
    std::thread worker_ GUARDED_BY(lock_);
};

extern template class RequestHandler<HTTPParser::HTTPRequest>;
