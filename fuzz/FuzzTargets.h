#pragma once

#include <cstddef>
#include <cstdint>

// One function per fuzz target. Each takes any bytes, drives one parser or loader with
// them and aborts when an invariant breaks. The libFuzzer programs call them, and the
// regression test replays every kept reproducer through them in the normal build.
namespace Fuzz {

using TargetFunction = int (*)(const uint8_t* data, size_t size);

int requestReaderTarget(const uint8_t* data, size_t size);
int chunkedTarget(const uint8_t* data, size_t size);
int httpObjectTarget(const uint8_t* data, size_t size);
int settingsTarget(const uint8_t* data, size_t size);
int whitelistLoadTarget(const uint8_t* data, size_t size);
int trainingDbLoadTarget(const uint8_t* data, size_t size);
int whitelistPushTarget(const uint8_t* data, size_t size);
int trainingDbPushTarget(const uint8_t* data, size_t size);
int proxyHeaderTarget(const uint8_t* data, size_t size);
int exportReaderTarget(const uint8_t* data, size_t size);

struct NamedTarget {
    const char* name;  // also the folder name of its corpus and kept failures
    TargetFunction function;
};

inline constexpr NamedTarget kTargets[] = {
    {"request_reader", requestReaderTarget}, {"chunked", chunkedTarget},
    {"http_object", httpObjectTarget},       {"settings", settingsTarget},
    {"whitelist_load", whitelistLoadTarget}, {"trainingdb_load", trainingDbLoadTarget},
    {"whitelist_push", whitelistPushTarget}, {"trainingdb_push", trainingDbPushTarget},
    {"proxy_header", proxyHeaderTarget},     {"export_reader", exportReaderTarget},
};

}  // namespace Fuzz
