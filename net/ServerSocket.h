#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "http/BufferBudget.h"
#include "http/HTTPRequest.h"
#include "http/IOB.h"
#include "http/SharedAnswer.h"
#include "net/ArrivalOrder.h"
#include "net/ConnectionLimits.h"
#include "net/StallWatch.h"
#include "platform/AutoLock.h"

class Session;
class ProxyHeader;
template <class T>
class RequestHandler;

// The TCP side of the sync server: a listener thread accepts connections on one port at
// one or more IPv4 and IPv6 addresses, and one I-O thread serves all of them through epoll,
// sleeping until a connection is ready, the worker has response bytes for one, or a stalled request
// runs out of time. Idle keep-alive connections hold no buffer and no timer.
class ServerSocket {
  public:
    using Receiver = RequestHandler<HTTPParser::HTTPRequest>;
    static constexpr int kHttpSession = 1;

    ServerSocket();
    virtual ~ServerSocket();

    ServerSocket(const ServerSocket&) = delete;
    ServerSocket& operator=(const ServerSocket&) = delete;

    // Listens on port at each numeric address (see ListenSockets::open; 0 picks a free
    // port, the same for all) and starts both threads. False, with nothing left running
    // and startError() saying why, when any step fails.
    bool start(const std::vector<std::string>& addresses, uint16_t port, int sessionKind,
               Receiver* receiver);
    // On 0.0.0.0.
    bool start(uint16_t port, int sessionKind, Receiver* receiver);
    // Ends both threads and closes every connection; unsent bytes are dropped.
    void stop();
    // Sockets another process keeps listening (systemd socket activation). While set, a
    // start serves these instead of binding, and a stop leaves them open: connections
    // that arrive meanwhile wait in their backlog instead of being refused.
    void useInheritedListeners(const std::vector<int>& sockets);
    bool hasInheritedListeners() const;
    std::string startError() const;
    // "127.0.0.1:17080", "[::1]:17080": where it listens while started.
    std::vector<std::string> listeningOn() const;

    // Hands response bytes to a connection (worker thread), and the shared body that
    // follows them, if any. False when the connection is gone or the bytes cannot be
    // buffered.
    virtual bool sendResponse(uint32_t sessionId, const HTTPParser::IOB& bytes, bool closeAfterSend,
                              std::shared_ptr<const HTTPParser::SharedAnswer> body = nullptr);
    // Whether a connection from peer is served; every peer is.
    virtual bool acceptFilter(const sockaddr& peer);

    // Replaces the limits read from the environment; takes effect at the next start.
    void setLimits(const ConnectionLimits& limits);
    ConnectionLimits limits() const;
    const HTTPParser::BufferBudget& budget() const { return budget_; }

    // Whether a peer (its address as text) is a trusted proxy: its connections must begin
    // with a PROXY header, and the client address the header carries takes the peer's place
    // for the access check, the log and the per-address cap. Asked at every accept, so it
    // may follow a changing configuration; none (the default) trusts nobody. Takes effect at
    // the next start.
    using ProxyTrust = std::function<bool(const std::string& peerAddress)>;
    void setProxyTrust(ProxyTrust trust);

    // The port listened on while started, else 0.
    uint16_t port() const;
    bool isStarted() const;
    size_t sessionCount() const;
    uint32_t nextSessionId() const;

  private:
    using SessionPtr = std::unique_ptr<Session>;

    void listenerLoop();
    void ioLoop();
    bool acceptOne(int listening);
    SessionPtr createSession(int kind, uint32_t id, int socket, const std::string& peer,
                             bool fromProxy);
    bool isTrustedProxy(const std::string& peerAddress) const;
    // Counts a connection under the client address its proxy's header carries; false when
    // that address already holds its share of the cap (I-O thread).
    bool admitCarried(Session& session, const ProxyHeader& header);
    void handleEvents(Session* session, uint32_t events);
    void deliverQueuedResponses();
    // Brings a session to its next state after reading or writing; false closes it.
    bool settle(Session* session);
    void watch(Session* session, uint32_t events);
    void markForClose(Session* session);
    void closeMarked();
    bool closeSession(int socket);
    // Watches a session for stalls while it has part of a request or unsent bytes, and
    // notes whether it still waits for its first request or is idle between requests.
    void trackProgress(Session* session);
    void noteIdle(Session* session, bool idle);
    void closeStalledSessions();
    // Milliseconds until the next stall or header time-out is due; -1 when none is.
    int nextDeadlineMs(int64_t nowMs);
    // Whether a connection from address may be registered; at the cap the longest-idle
    // keep-alive connection is handed to the I-O thread to close, making room.
    bool admitLocked(const std::string& address, bool fromProxy) REQUIRES(lock_);
    void wakeIoThreadLocked() REQUIRES(lock_);
    void evictIdle(const std::vector<uint32_t>& ids);

    // The listening sockets of one start: inherited ones, or one bound per address.
    bool openListeners(const std::vector<std::string>& addresses, uint16_t port);
    void closeListeners() REQUIRES(lock_);
    // The wake-up descriptor the I-O thread drains; fixed while the threads run.
    int currentWakeFd() const;

    // Taken before a session's own lock (sendResponse), never after it.
    mutable CriticalSection lock_;
    std::vector<int> listenSockets_ GUARDED_BY(lock_);
    std::vector<int> inherited_ GUARDED_BY(lock_);
    std::string startError_ GUARDED_BY(lock_);
    // Set before the threads start and closed after they end; the threads read them
    // without the lock, the worker (sendResponse) only under it.
    int epollFd_ = -1;
    int stopFd_ = -1;                    // eventfd, readable once stop begins
    int wakeFd_ GUARDED_BY(lock_) = -1;  // eventfd, written when answers wait
    uint16_t port_ GUARDED_BY(lock_) = 0;
    std::thread listenerThread_;
    std::thread ioThread_;
    std::unordered_map<int, SessionPtr> sessionsBySocket_ GUARDED_BY(lock_);
    std::unordered_map<uint32_t, Session*> sessionsById_ GUARDED_BY(lock_);
    // The answers of one start. Session ids are never reused, so an id names its start:
    // once a stop begins no answer is taken, and each start begins with an empty list
    // and no wake-up owed. Every id on the list is covered by a wake-up still to be
    // seen by the I-O thread (wakeOwed_), which it clears when it takes the list.
    bool serving_ GUARDED_BY(lock_) = false;
    bool wakeOwed_ GUARDED_BY(lock_) = false;
    std::vector<uint32_t> responsesWaiting_ GUARDED_BY(lock_);  // session ids
    // Connections that have not sent a byte of their first request, oldest first; the
    // listener adds them, the I-O thread takes them off or closes them when overdue.
    ArrivalOrder headsDue_ GUARDED_BY(lock_);
    // Keep-alive connections idle between requests, longest-idle first: at the cap they
    // make room for new clients, as the I-O thread closes those handed over here.
    ArrivalOrder idle_ GUARDED_BY(lock_);
    std::vector<uint32_t> evictions_ GUARDED_BY(lock_);
    uint32_t evictionsPending_ GUARDED_BY(lock_) = 0;
    // Open connections per peer address.
    std::unordered_map<std::string, uint32_t> perAddress_ GUARDED_BY(lock_);
    std::vector<Session*> closeSet_;  // I-O thread only
    StallWatch stallWatch_;           // I-O thread only
    ConnectionLimits limits_ GUARDED_BY(lock_);
    ConnectionLimits activeLimits_;  // what the running threads use, fixed at start
    ProxyTrust proxyTrust_ GUARDED_BY(lock_);
    ProxyTrust activeProxyTrust_;  // the listener's copy, fixed at start
    HTTPParser::BufferBudget budget_;
    int sessionKind_ = kHttpSession;
    Receiver* receiver_ = nullptr;
    uint32_t nextSessionId_ GUARDED_BY(lock_) = 1;
};
