#pragma once

#include <cstdint>

#include "http/IOB.h"

namespace HTTPParser {

// Results of a chunk scan. Both "incomplete" results mean more bytes are needed.
enum ChunkScanResult : int {
    kChunkMalformed = -1,      // a size line without digits, with a sign, garbage or an
                               // oversized size, or chunk data without its line break
    kChunkIncompleteData = 0,  // a chunk's data has not fully arrived
    kChunkIncompleteLine = 1,  // a chunk-size line has not fully arrived
    kChunkComplete = 2,        // the last chunk (size 0) was found
};

// A chunk-size line with its extensions is never longer than this.
constexpr uint32_t kMaxChunkLineLength = 4096;

// Scans chunked data from *position, which must be the start of a chunk-size line,
// appending chunk data to out when given. On return *position is the start of the
// first chunk not yet complete, or, after kChunkComplete, the byte behind the last
// chunk's line. A scan can thus be resumed when more bytes arrive.
int scanChunked(const char* data, uint32_t length, uint32_t* position, IOB* out);

// Whole-buffer form: scans from the start.
int decodeChunked(const char* data, int length, IOB* out);

// Finds the end of the trailer section that follows the last chunk: the byte behind
// the empty line. Starts at *position (the byte behind the last chunk's line at
// first) and leaves it behind the last whole line seen, so a search resumed when
// more bytes arrive does not read the same lines again. Returns false while that
// empty line has not arrived.
bool findTrailerEnd(const char* data, uint32_t length, uint32_t* position, uint32_t* end);

// Writes body as chunks of 256 bytes followed by the last chunk and an empty line.
bool encodeChunked(const IOB& body, IOB& out);

}  // namespace HTTPParser
