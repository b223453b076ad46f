#include "net/ServerSocket.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <malloc.h>

#include <algorithm>
#include <climits>

#include "net/ListenSockets.h"
#include "net/NetworkException.h"
#include "net/Session.h"
#include "net/ThreadStarter.h"
#include "platform/FileLimit.h"

namespace {

constexpr int kEventsPerWait = 256;
// After a burst the allocator may still hold freed memory below the trim hint; once
// the server has been quiet this long with that much freed, it is handed back too.
constexpr int kQuietTrimDelayMs = 1000;
constexpr uint64_t kQuietTrimBytes = 1024 * 1024;

void signalEventFd(int fd) {
    uint64_t one = 1;
    ssize_t ignored = ::write(fd, &one, sizeof one);
    (void)ignored;
}

void drainEventFd(int fd) {
    uint64_t count = 0;
    ssize_t ignored = ::read(fd, &count, sizeof count);
    (void)ignored;
}

uint32_t eventsFor(Session::Interest interest) {
    switch (interest) {
        case Session::Interest::Read:
            return EPOLLIN;
        case Session::Interest::Write:
            return EPOLLOUT;
        case Session::Interest::None:
            break;
    }
    return 0;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

ServerSocket::ServerSocket()
    : limits_(ConnectionLimits::fromEnvironment()), budget_(limits_.bufferBudget) {}

void ServerSocket::setLimits(const ConnectionLimits& limits) {
    AutoLock guard(lock_);
    limits_ = limits;
    budget_.setLimit(limits.bufferBudget);
}

ConnectionLimits ServerSocket::limits() const {
    AutoLock guard(lock_);
    return limits_;
}

ServerSocket::~ServerSocket() {
    stop();
}

bool ServerSocket::openListeners(const std::vector<std::string>& addresses, uint16_t port) {
    AutoLock guard(lock_);
    startError_.clear();
    if (!inherited_.empty()) {
        listenSockets_ = inherited_;
        return true;
    }
    if (addresses.empty()) {
        startError_ = "no address to listen on";
        return false;
    }
    for (const std::string& address : addresses) {
        int listening = ListenSockets::open(address, port, startError_);
        if (listening < 0) {
            closeListeners();
            return false;
        }
        listenSockets_.push_back(listening);
        // A port the system picked for the first address is taken for the others too.
        if (port == 0)
            port = ListenSockets::boundPort(listening);
    }
    return true;
}

void ServerSocket::closeListeners() {
    // Inherited sockets stay open: their owner keeps listening through a restart.
    for (int socket : listenSockets_) {
        if (std::find(inherited_.begin(), inherited_.end(), socket) == inherited_.end())
            ::close(socket);
    }
    listenSockets_.clear();
}

void ServerSocket::useInheritedListeners(const std::vector<int>& sockets) {
    AutoLock guard(lock_);
    inherited_.clear();
    for (int socket : sockets) {
        if (ListenSockets::adopt(socket))
            inherited_.push_back(socket);
    }
}

bool ServerSocket::hasInheritedListeners() const {
    AutoLock guard(lock_);
    return !inherited_.empty();
}

std::string ServerSocket::startError() const {
    AutoLock guard(lock_);
    return startError_;
}

std::vector<std::string> ServerSocket::listeningOn() const {
    AutoLock guard(lock_);
    std::vector<std::string> where;
    for (int socket : listenSockets_)
        where.push_back(ListenSockets::describe(socket));
    return where;
}

bool ServerSocket::start(uint16_t port, int sessionKind, Receiver* receiver) {
    return start({"0.0.0.0"}, port, sessionKind, receiver);
}

bool ServerSocket::start(const std::vector<std::string>& addresses, uint16_t port, int sessionKind,
                         Receiver* receiver) {
    if (isStarted())
        return false;
    sessionKind_ = sessionKind;
    receiver_ = receiver;
    {
        AutoLock guard(lock_);
        activeLimits_ = limits_;
        activeProxyTrust_ = proxyTrust_;
    }
    stallWatch_.setTimeout(activeLimits_.requestTimeoutMs);
    stallWatch_.setMinDrainRate(activeLimits_.minDrainRate);
    raiseOpenFileLimit();

    if (!openListeners(addresses, port))
        return false;
    try {
        int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
        {
            // sendResponse reads these under the lock from the worker and the committers.
            AutoLock guard(lock_);
            wakeFd_ = wake;
            port_ = ListenSockets::boundPort(listenSockets_.front());
            responsesWaiting_.clear();
            wakeOwed_ = false;
            serving_ = true;
        }
        if (wake < 0 || stopFd_ < 0 || epollFd_ < 0)
            throw NetworkException();

        epoll_event stopEvent{};
        stopEvent.events = EPOLLIN;
        stopEvent.data.ptr = &stopFd_;
        epoll_event wakeEvent{};
        wakeEvent.events = EPOLLIN;
        wakeEvent.data.ptr = &wakeFd_;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd_, &stopEvent) != 0 ||
            ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wake, &wakeEvent) != 0) {
            throw NetworkException();
        }

        ThreadStarter<ServerSocket> listenerStarter(this, &ServerSocket::listenerLoop);
        listenerThread_ = listenerStarter.start();
        if (!listenerThread_.joinable())
            throw NetworkException();
        ThreadStarter<ServerSocket> ioStarter(this, &ServerSocket::ioLoop);
        ioThread_ = ioStarter.start();
        if (!ioThread_.joinable())
            throw NetworkException();
    } catch (const NetworkException&) {
        stop();
        AutoLock guard(lock_);
        startError_ = "the server's threads or event descriptors could not be created";
        return false;
    }
    return true;
}

void ServerSocket::stop() {
    {
        // From here on no answer is taken: the sessions are about to go, and an id put on
        // the list now could never be delivered.
        AutoLock guard(lock_);
        serving_ = false;
    }
    if (stopFd_ >= 0)
        signalEventFd(stopFd_);
    if (listenerThread_.joinable())
        listenerThread_.join();
    if (ioThread_.joinable())
        ioThread_.join();

    std::vector<int> sockets;
    {
        AutoLock guard(lock_);
        closeFd(stopFd_);
        closeFd(wakeFd_);
        closeFd(epollFd_);
        closeListeners();
        port_ = 0;
        for (const auto& entry : sessionsBySocket_)
            sockets.push_back(entry.first);
    }
    for (int socket : sockets)
        closeSession(socket);
    AutoLock guard(lock_);
    sessionsBySocket_.clear();
    sessionsById_.clear();
    responsesWaiting_.clear();
    wakeOwed_ = false;
    headsDue_.clear();
    idle_.clear();
    evictions_.clear();
    evictionsPending_ = 0;
    perAddress_.clear();
    closeSet_.clear();
    stallWatch_.clear();
}

bool ServerSocket::sendResponse(uint32_t sessionId, const HTTPParser::IOB& bytes,
                                bool closeAfterSend,
                                std::shared_ptr<const HTTPParser::SharedAnswer> body) {
    AutoLock guard(lock_);
    if (!serving_)
        return false;
    auto found = sessionsById_.find(sessionId);
    if (found == sessionsById_.end())
        return false;
    bool queued = found->second->queueSend(bytes, closeAfterSend, std::move(body));
    responsesWaiting_.push_back(sessionId);
    wakeIoThreadLocked();
    return queued;
}

void ServerSocket::wakeIoThreadLocked() {
    // One wake-up covers everything handed over before the I-O thread takes the lists.
    if (!wakeOwed_) {
        signalEventFd(wakeFd_);
        wakeOwed_ = true;
    }
}

int ServerSocket::currentWakeFd() const {
    AutoLock guard(lock_);
    return wakeFd_;
}

bool ServerSocket::acceptFilter(const sockaddr&) {
    return true;
}

uint16_t ServerSocket::port() const {
    AutoLock guard(lock_);
    return port_;
}

bool ServerSocket::isStarted() const {
    AutoLock guard(lock_);
    return !listenSockets_.empty();
}

size_t ServerSocket::sessionCount() const {
    AutoLock guard(lock_);
    return sessionsBySocket_.size();
}

uint32_t ServerSocket::nextSessionId() const {
    AutoLock guard(lock_);
    return nextSessionId_;
}

void ServerSocket::ioLoop() {
    const int wakeFd = currentWakeFd();
    epoll_event events[kEventsPerWait];
    for (;;) {
        // Without a stalled request in sight the thread sleeps until something happens.
        int waitMs = nextDeadlineMs(StallWatch::nowMs());
        bool trimPending = budget_.freedSinceTrim() >= kQuietTrimBytes;
        if (trimPending && (waitMs < 0 || waitMs > kQuietTrimDelayMs))
            waitMs = kQuietTrimDelayMs;
        int ready = ::epoll_wait(epollFd_, events, kEventsPerWait, waitMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        bool stopping = false;
        bool woken = false;
        for (int i = 0; i < ready; ++i) {
            void* target = events[i].data.ptr;
            if (target == &stopFd_) {
                stopping = true;
            } else if (target == &wakeFd_) {
                drainEventFd(wakeFd);
                woken = true;
            } else {
                handleEvents(static_cast<Session*>(target), events[i].events);
            }
        }
        if (woken)
            deliverQueuedResponses();
        closeStalledSessions();
        closeMarked();
        if (budget_.takeTrimHint() || (ready == 0 && trimPending)) {
            // Freed small blocks stay with the allocator otherwise; after an attack
            // the idle server should shrink back to its idle size.
            ::malloc_trim(0);
            budget_.trimmed();
        }
        if (stopping)
            return;
    }
}

void ServerSocket::handleEvents(Session* session, uint32_t events) {
    if (session->closing)
        return;
    if ((events & EPOLLERR) != 0) {
        session->onError();
        markForClose(session);
        return;
    }
    // Both directions are gone: no answer can reach the peer any more.
    if ((events & EPOLLHUP) != 0) {
        markForClose(session);
        return;
    }
    if ((events & EPOLLIN) != 0 && !session->onReadable()) {
        markForClose(session);
        return;
    }
    // Writable sessions are written by settle.
    if (!settle(session)) {
        markForClose(session);
        return;
    }
    trackProgress(session);
}

void ServerSocket::deliverQueuedResponses() {
    std::vector<uint32_t> ids, evictions;
    {
        AutoLock guard(lock_);
        ids.swap(responsesWaiting_);
        evictions.swap(evictions_);
        wakeOwed_ = false;
    }
    evictIdle(evictions);
    for (uint32_t id : ids) {
        Session* session = nullptr;
        {
            AutoLock guard(lock_);
            auto found = sessionsById_.find(id);
            if (found != sessionsById_.end())
                session = found->second;
        }
        // Only this thread destroys sessions, so the pointer stays good without the lock.
        if (session == nullptr || session->closing)
            continue;
        if (settle(session)) {
            trackProgress(session);
        } else {
            markForClose(session);
        }
    }
}

bool ServerSocket::settle(Session* session) {
    for (;;) {
        if (session->hasUnsentBytes()) {
            if (!session->onWritable())
                return false;
            if (session->hasUnsentBytes())
                break;
        }
        if (session->closeAfterSend())
            return false;
        if (session->isAwaitingResponse())
            break;
        if (session->isPeerFinished())
            return false;
        // A request already buffered behind the answered one starts now.
        if (!session->onSendDrained())
            return false;
        if (!session->hasUnsentBytes())
            break;
    }
    watch(session, eventsFor(session->wantedInterest()));
    return true;
}

void ServerSocket::watch(Session* session, uint32_t events) {
    if (session->registeredEvents == events)
        return;
    epoll_event event{};
    event.events = events;
    event.data.ptr = session;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_MOD, session->socket(), &event) == 0) {
        session->registeredEvents = events;
    } else {
        markForClose(session);
    }
}

void ServerSocket::markForClose(Session* session) {
    if (session->closing)
        return;
    session->closing = true;
    stallWatch_.forget(session);
    noteIdle(session, false);
    closeSet_.push_back(session);
}

void ServerSocket::closeMarked() {
    if (closeSet_.empty())
        return;
    std::vector<int> sockets;
    sockets.reserve(closeSet_.size());
    for (Session* session : closeSet_)
        sockets.push_back(session->socket());
    closeSet_.clear();
    for (int socket : sockets)
        closeSession(socket);
}

bool ServerSocket::closeSession(int socket) {
    SessionPtr session;
    {
        AutoLock guard(lock_);
        auto found = sessionsBySocket_.find(socket);
        if (found == sessionsBySocket_.end())
            return false;
        session = std::move(found->second);
        sessionsBySocket_.erase(found);
        sessionsById_.erase(session->sessionId());
        headsDue_.remove(session->headPlace);
        idle_.remove(session->idlePlace);
        auto count = session->peerCounted ? perAddress_.find(session->peerKey) : perAddress_.end();
        if (count != perAddress_.end() && --count->second == 0)
            perAddress_.erase(count);
    }
    stallWatch_.forget(session.get());
    // Out of the registries first: the descriptor number may be reused by the next
    // accept as soon as it is closed.
    ::close(socket);
    session->onClose();
    return true;
}
