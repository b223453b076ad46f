#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The 8-byte statistics payload: both counts as little-endian signed 32-bit integers.
std::vector<uint8_t> encodeStatistics(int32_t whitelistCount, int32_t trainingDbCount);
// True when text is well-formed UTF-8, as every string on the bus must be.
bool isValidUtf8(const std::string& text);
