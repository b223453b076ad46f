#pragma once

#include <cstdint>

#include "http/IOB.h"

namespace HTTPParser {

// Results of a chunk scan. Both "incomplete" results mean more bytes are needed.
enum ChunkScanResult : int {
    kChunkMalformed = -1,      // negative or oversized chunk size: the body can never be valid
    kChunkIncompleteData = 0,  // a chunk's data has not fully arrived
    kChunkIncompleteLine = 1,  // a chunk-size line has not fully arrived
    kChunkComplete = 2,        // the last chunk (size 0) was found
};

// Scans chunked data from *position, which must be the start of a chunk-size line,
// appending chunk data to out when given. On return *position is the start of the
// first chunk not yet complete, or, after kChunkComplete, the byte behind the last
// chunk's line. A scan can thus be resumed when more bytes arrive.
int scanChunked(const char* data, uint32_t length, uint32_t* position, IOB* out);

// Whole-buffer form: scans from the start.
int decodeChunked(const char* data, int length, IOB* out);

// Finds the end of the trailer section that follows the last chunk: the byte behind
// the empty line. Returns false while that empty line has not arrived.
bool findTrailerEnd(const char* data, uint32_t length, uint32_t start, uint32_t* end);

// Writes body as chunks of 256 bytes followed by the last chunk and an empty line.
bool encodeChunked(const IOB& body, IOB& out);

}  // namespace HTTPParser
