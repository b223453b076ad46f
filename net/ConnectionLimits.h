#pragma once

#include <cstdint>

// What one server grants its clients: how long a request may stall, how many bytes
// all connections together may hold in buffers, how many header fields a request
// may carry and how many connections are served at once. Operators and tests set
// them through environment variables; config.xml does not carry them.
struct ConnectionLimits {
    // A connection that has sent part of a request, or has an answer waiting to be
    // read, and makes no progress for this long is closed.
    uint32_t requestTimeoutMs = 60000;
    // Bytes of request and response buffers across all connections.
    uint64_t bufferBudget = defaultBufferBudget();
    uint32_t maxHeaderFields = 100;
    // Connections beyond this many are closed as soon as they are accepted.
    uint32_t maxConnections = 20000;

    // A quarter of the machine's memory, at least 128 MiB and at most 2 GiB.
    static uint64_t defaultBufferBudget();
    // The defaults, overridden by VANTORSYNC_REQUEST_TIMEOUT (seconds, fractions
    // allowed), VANTORSYNC_BUFFER_BUDGET_MB, VANTORSYNC_MAX_HEADER_FIELDS and
    // VANTORSYNC_MAX_CONNECTIONS. A value that is not a positive number is ignored.
    static ConnectionLimits fromEnvironment();
};
