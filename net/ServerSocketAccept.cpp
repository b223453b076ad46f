#include "net/ServerSocket.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <new>

#include "metrics/Metrics.h"
#include "net/HTTPSession.h"
#include "net/ListenSockets.h"

// The listener thread: accepts connections, admits them within the caps and registers
// them with the I-O thread's epoll set.

namespace {

// After the process runs out of descriptors the listener pauses this long, instead
// of spinning on a listening socket that stays readable.
constexpr int kAcceptBackoffMs = 100;

}  // namespace

void ServerSocket::listenerLoop() {
    std::vector<pollfd> watched;
    {
        AutoLock guard(lock_);
        for (int listening : listenSockets_)
            watched.push_back({listening, POLLIN, 0});
    }
    const size_t stopIndex = watched.size();
    watched.push_back({stopFd_, POLLIN, 0});
    for (;;) {
        int ready = ::poll(watched.data(), watched.size(), -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[stopIndex].revents != 0)
            return;
        bool exhausted = false;
        for (size_t i = 0; i < stopIndex; ++i) {
            if (watched[i].revents == 0)
                continue;
            while (acceptOne(watched[i].fd)) {
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                exhausted = true;
        }
        if (exhausted) {
            pollfd stop = {stopFd_, POLLIN, 0};
            if (::poll(&stop, 1, kAcceptBackoffMs) > 0)
                return;
        }
    }
}

bool ServerSocket::acceptOne(int listening) {
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    int socket = ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0) {
        // A connection that died in the backlog does not end the burst.
        return errno == ECONNABORTED || errno == EINTR;
    }
    int one = 1;
    if (!acceptFilter(reinterpret_cast<const sockaddr&>(peer)) ||
        ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) != 0) {
        ::close(socket);
        errno = 0;
        return true;
    }
    const std::string peerText = ListenSockets::peerText(peer);
    // Asked before the lock: the answer may come from the configuration's own lock.
    const bool fromProxy = isTrustedProxy(peerText);
    const std::string share = ConnectionLimits::addressShare(peerText);
    AutoLock guard(lock_);
    if (!admitLocked(share, fromProxy)) {
        // Closed at once rather than left waiting in the backlog: the client learns
        // straight away that it has to come back later.
        ::close(socket);
        errno = 0;
        return true;
    }
    SessionPtr session = createSession(sessionKind_, nextSessionId_, socket, peerText, fromProxy);
    if (session == nullptr) {
        ::close(socket);
        errno = 0;
        return true;
    }
    Session* registered = session.get();
    sessionsById_[registered->sessionId()] = registered;
    sessionsBySocket_[socket] = std::move(session);
    ++nextSessionId_;
    registered->peerKey = share;
    // A proxy's connections count under the clients they carry, once their headers say who.
    registered->peerCounted = !fromProxy;
    if (!fromProxy)
        ++perAddress_[share];
    headsDue_.add(registered, registered->headPlace, StallWatch::nowMs());
    registered->registeredEvents = EPOLLIN;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = registered;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, socket, &event) != 0)
        closeSession(socket);
    errno = 0;
    return true;
}

bool ServerSocket::admitLocked(const std::string& address, bool fromProxy) {
    auto found = fromProxy ? perAddress_.end() : perAddress_.find(address);
    if (found != perAddress_.end() && found->second >= activeLimits_.effectivePerAddress()) {
        Metrics::instance().refusedForAddressCap();
        return false;
    }
    if (sessionsBySocket_.size() < uint64_t(activeLimits_.maxConnections) + evictionsPending_)
        return true;
    Session* idlest = idle_.oldest();
    if (idlest == nullptr)
        return false;
    idle_.remove(idlest->idlePlace);
    evictions_.push_back(idlest->sessionId());
    ++evictionsPending_;
    wakeIoThreadLocked();
    return true;
}

ServerSocket::SessionPtr ServerSocket::createSession(int kind, uint32_t id, int socket,
                                                     const std::string& peer, bool fromProxy) {
    if (kind != kHttpSession)
        return nullptr;
    try {
        auto session = std::make_unique<HTTPSession>(socket, id, receiver_, peer);
        session->configure(&budget_, activeLimits_.maxHeaderFields);
        if (fromProxy) {
            session->requireProxyHeader([this](Session& carried, const ProxyHeader& header) {
                return admitCarried(carried, header);
            });
        }
        return session;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
