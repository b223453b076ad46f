#pragma once

#include <cstdint>
#include <string>

#include "http/Header.h"

namespace HTTPParser {

// Reads the line that starts at position; a line ends at LF, and a CR just
// before the LF is not part of it.
// The position moves behind the LF, or to length when there is none.
std::string readLine(const char* data, uint32_t length, uint32_t& position);

// Reads the first line and the header block behind it into fields; returns the
// position where the body starts. A line the collection refuses ends the block.
uint32_t readHead(const char* data, uint32_t length, std::string& firstLine, Header& fields);

// ASCII case-insensitive comparison of whole texts.
bool equalsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace HTTPParser
