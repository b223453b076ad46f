#pragma once

#include <cstdint>
#include <string>

// Numbers in controls: written with "%d", read as the leading decimal number (white space
// and a sign allowed before the digits; no digits reads as 0). Values beyond the 32-bit
// range read as the nearest limit rather than wrapping.
std::string formatNumber(int32_t value);
int32_t parseLeadingNumber(const std::string& text);
