#pragma once

#include <cstdint>
#include <string>

// What one server grants its clients: how long a request may stall, how many bytes
// all connections together may hold in buffers, how many header fields a request
// may carry and how many connections are served at once. Operators and tests set
// them through environment variables; config.xml does not carry them.
struct ConnectionLimits {
    // A connection that has sent part of a request, or has an answer waiting to be
    // read, and makes no progress for this long is closed.
    uint32_t requestTimeoutMs = 60000;
    // Bytes per second a client must take of an answer it is sent; one that reads slower
    // falls behind and is closed once it is a time-out behind.
    uint32_t minDrainRate = 1024;
    // Bytes of request and response buffers across all connections.
    uint64_t bufferBudget = defaultBufferBudget();
    uint32_t maxHeaderFields = 100;
    // At this many connections a new one takes the place of the longest-idle keep-alive
    // connection; when none is idle, it is closed as soon as it is accepted.
    uint32_t maxConnections = 20000;
    // A connection that has not sent a byte of its first request for this long is closed;
    // 0 takes requestTimeoutMs.
    uint32_t headerTimeoutMs = 0;
    // Connections one peer address may hold at once; 0 takes a quarter of maxConnections,
    // so that no single address can take the whole cap.
    uint32_t maxConnectionsPerAddress = 0;

    uint32_t effectiveHeaderTimeoutMs() const {
        return headerTimeoutMs != 0 ? headerTimeoutMs : requestTimeoutMs;
    }
    uint32_t effectivePerAddress() const {
        if (maxConnectionsPerAddress != 0)
            return maxConnectionsPerAddress;
        return maxConnections >= 4 ? maxConnections / 4 : 1;
    }

    // A quarter of the machine's memory, at least 128 MiB and at most 2 GiB.
    static uint64_t defaultBufferBudget();
    // The defaults, overridden by VANTORSYNC_REQUEST_TIMEOUT and VANTORSYNC_HEADER_TIMEOUT
    // (seconds, fractions allowed), VANTORSYNC_BUFFER_BUDGET_MB, VANTORSYNC_MAX_HEADER_FIELDS,
    // VANTORSYNC_MAX_CONNECTIONS, VANTORSYNC_MAX_CONNECTIONS_PER_ADDRESS and
    // VANTORSYNC_MIN_DRAIN_RATE (bytes per second). A value that
    // is not a positive number is ignored.
    static ConnectionLimits fromEnvironment();

    // What the per-address cap counts a peer by, from its address text: an IPv4 address as
    // it is, an IPv6 address by its /64, the usual share of one site, so that a client
    // cannot take a fresh share with each address of its network.
    static std::string addressShare(const std::string& peer);
};
