#include "net/ConnectionLimits.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// A positive number from the environment, or nothing usable.
bool positiveValue(const char* name, double* value) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0)
        return false;
    char* end = nullptr;
    errno = 0;
    double parsed = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != 0 || !std::isfinite(parsed) || parsed <= 0)
        return false;
    *value = parsed;
    return true;
}

}  // namespace

uint64_t ConnectionLimits::defaultBufferBudget() {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    uint64_t memory = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
    uint64_t quarter = memory / 4;
    if (quarter < 128 * kMiB)
        return 128 * kMiB;
    if (quarter > 2048 * kMiB)
        return 2048 * kMiB;
    return quarter;
}

ConnectionLimits ConnectionLimits::fromEnvironment() {
    ConnectionLimits limits;
    double value = 0;
    if (positiveValue("VANTORSYNC_REQUEST_TIMEOUT", &value) && value * 1000 < 4e9)
        limits.requestTimeoutMs = static_cast<uint32_t>(std::ceil(value * 1000));
    if (positiveValue("VANTORSYNC_BUFFER_BUDGET_MB", &value) && value < 1e9)
        limits.bufferBudget = static_cast<uint64_t>(value * double(kMiB));
    if (positiveValue("VANTORSYNC_MAX_HEADER_FIELDS", &value) && value >= 1 && value < 1e6)
        limits.maxHeaderFields = static_cast<uint32_t>(value);
    if (positiveValue("VANTORSYNC_HEADER_TIMEOUT", &value) && value * 1000 < 4e9)
        limits.headerTimeoutMs = static_cast<uint32_t>(std::ceil(value * 1000));
    if (positiveValue("VANTORSYNC_MAX_CONNECTIONS", &value) && value >= 1 && value < 1e9)
        limits.maxConnections = static_cast<uint32_t>(value);
    if (positiveValue("VANTORSYNC_MIN_DRAIN_RATE", &value) && value < 4e9)
        limits.minDrainRate = static_cast<uint32_t>(value);
    if (positiveValue("VANTORSYNC_MAX_CONNECTIONS_PER_ADDRESS", &value) && value >= 1 &&
        value < 1e9)
        limits.maxConnectionsPerAddress = static_cast<uint32_t>(value);
    return limits;
}

std::string ConnectionLimits::addressShare(const std::string& peer) {
    in6_addr address{};
    if (peer.find(':') == std::string::npos || ::inet_pton(AF_INET6, peer.c_str(), &address) != 1)
        return peer;
    std::fill(address.s6_addr + 8, address.s6_addr + 16, uint8_t(0));
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, &address, text, sizeof text);
    return std::string(text) + "/64";
}
