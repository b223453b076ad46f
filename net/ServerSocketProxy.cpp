#include "metrics/Metrics.h"
#include "net/ProxyHeader.h"
#include "net/ServerSocket.h"
#include "net/Session.h"

// Trusted proxies: which peers must send a PROXY header, and the per-address count of the
// clients their headers name.

void ServerSocket::setProxyTrust(ProxyTrust trust) {
    AutoLock guard(lock_);
    proxyTrust_ = std::move(trust);
}

bool ServerSocket::isTrustedProxy(const std::string& peerAddress) const {
    return activeProxyTrust_ && activeProxyTrust_(peerAddress);
}

bool ServerSocket::admitCarried(Session& session, const ProxyHeader& header) {
    // Keyed as a direct peer would be (a carried IPv4-mapped address reads as plain IPv4).
    const std::string key = ConnectionLimits::addressShare(header.sourceText());
    AutoLock guard(lock_);
    auto found = perAddress_.find(key);
    if (found != perAddress_.end() && found->second >= activeLimits_.effectivePerAddress()) {
        Metrics::instance().refusedForAddressCap();
        return false;
    }
    if (session.peerCounted) {
        auto previous = perAddress_.find(session.peerKey);
        if (previous != perAddress_.end() && --previous->second == 0)
            perAddress_.erase(previous);
    }
    ++perAddress_[key];
    session.peerKey = key;
    session.peerCounted = true;
    return true;
}
