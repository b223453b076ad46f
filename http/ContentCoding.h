#pragma once

#include <cstdint>
#include <string>

#include "http/IOB.h"

namespace HTTPParser {

// True for the content codings that bodies are compressed for when written.
bool isKnownContentCoding(const std::string& value);

// Decodes a zlib stream, or raw deflate data when that fails, into out.
// outLength: in, the room at out; out, the bytes produced. Returns a zlib result:
// 0 success, Z_BUF_ERROR (-5) when the room was too small, otherwise an error.
int inflateBody(uint8_t* out, uint32_t* outLength, const uint8_t* in, uint32_t inLength);

// Decodes body into out, growing the room by doubling up to the buffer limit.
// Returns the final zlib result; out holds what was produced.
int inflateToBuffer(const IOB& body, IOB& out);

// Compresses body in the zlib stream format into out. False (out untouched) for an
// empty body or when zlib fails.
bool compressBody(const IOB& body, IOB& out);

}  // namespace HTTPParser
