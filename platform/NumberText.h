#pragma once

#include <cstdint>
#include <string>

// Numbers in texts (configuration values, protocol indexes, lengths) are read the
// same way everywhere: white space skipped, an optional sign, decimal digits up to
// the first other character. No digits gives 0; values beyond 32 bits are clamped.
int32_t leadingNumber(const std::string& text);
// The same reading for lengths and other wide values: magnitudes beyond 2^40 saturate there.
int64_t leadingNumber64(const std::string& text);
// The value of one hexadecimal digit (either case), or -1 for any other character.
int hexDigitValue(char c);
