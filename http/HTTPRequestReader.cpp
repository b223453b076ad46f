#include "http/HTTPRequestReader.h"

#include <string.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "http/ChunkedCoding.h"
#include "http/MessageFraming.h"
#include "http/MessageText.h"

namespace HTTPParser {

namespace {

constexpr uint64_t kFirstBlockSize = 1024;

uint32_t countLines(const char* data, uint32_t length) {
    uint32_t lines = 0;
    for (const char* at = data; at < data + length; ++at) {
        at = static_cast<const char*>(std::memchr(at, '\n', size_t(data + length - at)));
        if (at == nullptr)
            break;
        ++lines;
    }
    return lines;
}

}  // namespace

HTTPRequestReader::~HTTPRequestReader() {
    emptyBuffer();
}

void HTTPRequestReader::setLimits(uint32_t maxHeaderFields, BufferBudget* budget) {
    maxHeaderFields_ = maxHeaderFields;
    if (budget_ != nullptr)
        budget_->release(charged_);
    budget_ = budget;
    if (budget_ != nullptr)
        budget_->charge(charged_);
}

void HTTPRequestReader::feed(const char* data, int length) {
    if (state_ == Failed || state_ == Refused || state_ == Rejected || data == nullptr ||
        length <= 0)
        return;
    compact();
    uint64_t needed = uint64_t(buffer_.length()) + uint32_t(length) + 1;
    if (needed > buffer_.lengthLimit()) {
        // The request (with what follows it) cannot fit into any buffer; waiting for
        // more bytes would hang the connection.
        state_ = Failed;
        return;
    }
    if (!makeRoom(needed)) {
        // Also when head and body came in one read: the client learns why it was closed.
        state_ = Refused;
        return;
    }
    buffer_.append(data, static_cast<uint32_t>(length));
    advance();
}

bool HTTPRequestReader::makeRoom(uint64_t needed) {
    if (needed <= buffer_.capacity())
        return true;
    uint64_t size = std::max<uint64_t>(buffer_.capacity(), kFirstBlockSize);
    while (size < needed)
        size *= 2;
    // A body of known length gets exactly its block, grown once.
    if (expectedLength_ >= needed)
        size = expectedLength_;
    size = std::min<uint64_t>(size, buffer_.lengthLimit());
    uint64_t charge = size > kFreeAllowance ? size - kFreeAllowance : 0;
    uint64_t extra = charge > charged_ ? charge - charged_ : 0;
    if (extra > 0 && budget_ != nullptr && !budget_->tryCharge(extra))
        return false;
    if (!buffer_.reserve(static_cast<uint32_t>(size))) {
        if (extra > 0 && budget_ != nullptr)
            budget_->release(extra);
        return false;
    }
    charged_ += extra;
    return true;
}

void HTTPRequestReader::advance() {
    if (state_ == Idle) {
        // Empty lines before a request line are skipped, as clients may send them
        // after a body.
        while (currentLength() > 0) {
            if (current()[0] == '\n') {
                ++start_;
            } else if (current()[0] == '\r' && currentLength() >= 2 && current()[1] == '\n') {
                start_ += 2;
            } else {
                break;
            }
        }
        if (currentLength() == 0 || (currentLength() == 1 && current()[0] == '\r'))
            return;
        state_ = Head;
    }
    if (state_ == Head) {
        uint32_t headEnd = 0;
        if (!findHeadEnd(&headEnd)) {
            if (currentLength() > kMaxHeadLength)
                state_ = Failed;
            return;
        }
        parseHead(headEnd);
        return;
    }
    if (state_ == Body)
        checkBody();
}

bool HTTPRequestReader::findHeadEnd(uint32_t* headEnd) {
    const char* data = current();
    uint32_t length = currentLength();
    uint32_t i = headScanFrom_;
    while (i < length) {
        const void* found = std::memchr(data + i, '\n', length - i);
        if (found == nullptr)
            break;
        uint32_t lineFeed = static_cast<uint32_t>(static_cast<const char*>(found) - data);
        uint32_t next = lineFeed + 1;
        // The line after this line feed is empty when it is a bare LF or CR LF.
        if (next < length && data[next] == '\n') {
            *headEnd = next + 1;
            return true;
        }
        if (next + 1 < length && data[next] == '\r' && data[next + 1] == '\n') {
            *headEnd = next + 2;
            return true;
        }
        if (next >= length || (next + 1 >= length && data[next] == '\r')) {
            // Too few bytes to tell: look at this line feed again next time.
            headScanFrom_ = lineFeed;
            return false;
        }
        i = next;
    }
    headScanFrom_ = length;
    return false;
}

void HTTPRequestReader::parseHead(uint32_t headEnd) {
    if (headEnd > kMaxHeadLength) {
        state_ = Failed;
        return;
    }
    // Counted before anything is stored, so a head of countless tiny fields costs
    // one pass over its bytes: the request line and the empty line, then the fields.
    if (countLines(current(), headEnd) > maxHeaderFields_ + 2) {
        state_ = Failed;
        return;
    }
    if (!headIsWellFormed(current(), headEnd)) {
        state_ = Rejected;
        return;
    }
    std::string firstLine;
    headers_.clear();
    // Only the head is read here; the body bytes behind it are not header lines.
    bodyOffset_ = readHead(current(), headEnd, firstLine, headers_);
    MessageFraming framing = readFraming(headers_);
    if (framing.kind == MessageFraming::Invalid) {
        state_ = Failed;
        return;
    }
    chunked_ = framing.kind == MessageFraming::Chunked;
    contentLength_ = framing.contentLength;
    chunkScanFrom_ = 0;
    if (!chunked_ && contentLength_ > 0) {
        uint64_t total = uint64_t(bodyOffset_) + uint64_t(contentLength_) + 1;
        if (total > buffer_.lengthLimit()) {
            state_ = Failed;
            return;
        }
        compact();
        expectedLength_ = total;
        // The whole body is claimed now: once admitted, a transfer always finishes.
        if (!makeRoom(total)) {
            state_ = Refused;
            return;
        }
    }
    state_ = Body;
    checkBody();
    if (state_ == Body) {
        const HeaderField* expect = headers_.find("Expect");
        continueRequested_ =
            expect != nullptr && equalsIgnoringCase(expect->getValue(), "100-continue");
    }
}

void HTTPRequestReader::checkBody() {
    uint32_t available = currentLength() - bodyOffset_;
    if (!chunked_) {
        if (contentLength_ <= 0) {
            requestEnd_ = bodyOffset_;
            state_ = Complete;
        } else if (available >= contentLength_) {
            requestEnd_ = bodyOffset_ + static_cast<uint32_t>(contentLength_);
            state_ = Complete;
        }
        return;
    }
    const char* body = current() + bodyOffset_;
    if (chunkedBodyEnd_ == 0) {
        int result = scanChunked(body, available, &chunkScanFrom_, nullptr);
        if (result == kChunkMalformed) {
            state_ = Failed;
            return;
        }
        if (result != kChunkComplete)
            return;
        chunkedBodyEnd_ = chunkScanFrom_;
        trailerScanFrom_ = chunkedBodyEnd_;
    }
    // The message ends with the empty line behind the optional trailer fields.
    uint32_t trailerEnd = 0;
    bool found = findTrailerEnd(body, available, &trailerScanFrom_, &trailerEnd);
    // Judged by the trailer's own length, so the verdict does not depend on how the
    // bytes were cut into reads.
    uint32_t trailerLength = (found ? trailerEnd : available) - chunkedBodyEnd_;
    if (trailerLength > kMaxHeadLength) {
        state_ = Failed;
    } else if (found) {
        requestEnd_ = bodyOffset_ + trailerEnd;
        state_ = Complete;
    }
}

bool HTTPRequestReader::buildRequest(HTTPRequest& request) const {
    if (state_ != Complete || currentLength() == 0)
        return false;
    std::string firstLine;
    Header fields;
    uint32_t bodyStart = readHead(current(), bodyOffset_, firstLine, fields);
    request.setFirstLine(firstLine);
    request.headers().assign(fields);
    IOB& body = request.getBody();
    body.clear();
    const char* bodyData = current() + bodyStart;
    uint32_t bodyLength = requestEnd_ - bodyStart;
    // One block of the right size: a large body is not grown by doubling.
    if (bodyLength > 0 && !body.reserve(bodyLength + 1))
        return false;
    if (chunked_) {
        uint32_t position = 0;
        scanChunked(bodyData, bodyLength, &position, &body);
    } else if (bodyLength > 0) {
        body.append(bodyData, bodyLength);
    }
    return true;
}

void HTTPRequestReader::nextRequest() {
    if (state_ != Complete) {
        reset();
        return;
    }
    start_ += requestEnd_;
    forgetCurrentRequest();
    if (currentLength() == 0) {
        emptyBuffer();
        return;
    }
    if (buffer_.capacity() > kFreeAllowance && currentLength() < kFreeAllowance / 2) {
        // A few bytes of the next request must not keep a large block alive.
        IOB rest;
        rest.append(current(), currentLength());
        emptyBuffer();
        buffer_ = std::move(rest);
    }
    advance();
}

void HTTPRequestReader::reset() {
    forgetCurrentRequest();
    emptyBuffer();
}

void HTTPRequestReader::forgetCurrentRequest() {
    headers_.clear();
    chunked_ = false;
    contentLength_ = 0;
    bodyOffset_ = 0;
    headScanFrom_ = 0;
    chunkScanFrom_ = 0;
    chunkedBodyEnd_ = 0;
    trailerScanFrom_ = 0;
    expectedLength_ = 0;
    requestEnd_ = 0;
    continueRequested_ = false;
    state_ = Idle;
}

void HTTPRequestReader::emptyBuffer() {
    // An idle keep-alive connection holds no block at all.
    if (budget_ != nullptr) {
        budget_->release(charged_);
        budget_->noteFreed(buffer_.capacity());
    }
    charged_ = 0;
    buffer_ = IOB();  // clear() would keep the block
    start_ = 0;
}

bool HTTPRequestReader::takeContinueRequest() {
    bool requested = continueRequested_ && state_ == Body;
    continueRequested_ = false;
    return requested;
}

void HTTPRequestReader::compact() {
    if (start_ == 0)
        return;
    uint32_t remaining = currentLength();
    std::memmove(buffer_.data(), buffer_.data() + start_, remaining);
    buffer_.setLength(remaining);
    if (buffer_.data() != nullptr)
        buffer_.data()[remaining] = 0;
    start_ = 0;
}

}  // namespace HTTPParser
