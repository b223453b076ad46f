#include <cstring>

#include "metrics/Metrics.h"
#include "net/ProxyHeader.h"
#include "net/ServerSocket.h"
#include "net/Session.h"

// Trusted proxies: which peers must send a PROXY header, and the per-address count of the
// clients their headers name.

namespace {

// The key the per-address count knows a carried client by: its IPv4 address as the socket
// gives it, also when written IPv4-mapped. An IPv6 client counts by its /64, the usual
// share of one site, so that the addresses of one network cannot each take a full share.
uint32_t addressKey(const ProxyHeader& header) {
    const auto& bytes = header.sourceBytes();
    uint32_t key = 0;
    if (header.source() == ProxyHeader::Source::IPv4) {
        std::memcpy(&key, bytes.data(), 4);
        return key;
    }
    static const uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes.data(), kMappedPrefix, sizeof kMappedPrefix) == 0) {
        std::memcpy(&key, bytes.data() + 12, 4);
        return key;
    }
    uint32_t high = 0;
    std::memcpy(&high, bytes.data(), 4);
    std::memcpy(&key, bytes.data() + 4, 4);
    return key ^ high;
}

}  // namespace

void ServerSocket::setProxyTrust(ProxyTrust trust) {
    AutoLock guard(lock_);
    proxyTrust_ = std::move(trust);
}

bool ServerSocket::isTrustedProxy(const std::string& peerAddress) const {
    return activeProxyTrust_ && activeProxyTrust_(peerAddress);
}

bool ServerSocket::admitCarried(Session& session, const ProxyHeader& header) {
    const uint32_t key = addressKey(header);
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
