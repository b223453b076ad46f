#pragma once

#include <cstdint>
#include <string>

#include "http/Header.h"

namespace HTTPParser {

// How the body of a received message is delimited. A head that two readers could
// take to mean two different bodies (the classic way to smuggle a second request
// past a proxy) is Invalid and must not be served.
struct MessageFraming {
    enum Kind { None, Length, Chunked, Invalid };
    Kind kind = None;
    int64_t contentLength = 0;
};

// Reads "Transfer-Encoding" and "Content-Length" of a head:
// - Transfer-Encoding (all fields, as one comma list, blanks around items ignored):
//   chunked when its last coding is "chunked" and no earlier one is; any other
//   list is Invalid, and so is a Content-Length beside it;
// - Content-Length: its leading number; fields or list items with different
//   numbers are Invalid, repeats of the same number are fine.
MessageFraming readFraming(const Header& fields);

// Whether the bytes of a head (request line to the empty line) hold only lines that every
// reader splits the same way. Refused: a NUL anywhere, a CR that does not end a line, a
// field line whose name is not a token or is not followed directly by the colon
// ("Content-Length : 5"), a line without a colon, and a folded line before any field.
// Lenient readers (this one's own header collection among them) would take such a line
// as some other field, or as the end of the head, where a proxy reads it differently.
bool headIsWellFormed(const char* data, uint32_t length);

// Whether any field of that name lists token (comma lists, ASCII case ignored).
bool hasListToken(const Header& fields, const std::string& name, const std::string& token);

// Whether the last transfer coding of the fields is chunked (as readFraming sees it).
bool lastCodingIsChunked(const Header& fields);

}  // namespace HTTPParser
