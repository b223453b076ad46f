#include "http/HTTPRequestReader.h"

#include <string.h>

#include <cstring>
#include <string>

#include "http/ChunkedCoding.h"
#include "http/MessageText.h"
#include "platform/NumberText.h"

namespace HTTPParser {

namespace {

const char kHeadEnd[] = "\r\n\r\n";
// A head that has not ended within this many bytes is not from a real client; holding
// more per connection would let a few connections claim the memory of many.
constexpr uint32_t kMaxHeadLength = 1024 * 1024;
constexpr uint32_t kKeptBlockSize = 64 * 1024;

}  // namespace

void HTTPRequestReader::feed(const char* data, int length) {
    if (state_ == Failed || data == nullptr || length <= 0)
        return;
    compact();
    if (!buffer_.append(data, static_cast<uint32_t>(length))) {
        // The request (with what follows it) cannot fit into any buffer; waiting for
        // more bytes would hang the connection.
        state_ = Failed;
        return;
    }
    advance();
}

void HTTPRequestReader::advance() {
    if (state_ == Idle && currentLength() > 0)
        state_ = Head;
    if (state_ == Head) {
        // Resume the search a few bytes back: the marker may straddle two pieces.
        uint32_t from = headScanFrom_;
        const char* found = nullptr;
        if (currentLength() >= from + 4) {
            found = static_cast<const char*>(
                memmem(current() + from, currentLength() - from, kHeadEnd, 4));
        }
        if (found == nullptr) {
            headScanFrom_ = currentLength() > 3 ? currentLength() - 3 : 0;
            if (currentLength() > kMaxHeadLength)
                state_ = Failed;
            return;
        }
        parseHead(static_cast<uint32_t>(found - current()) + 4);
        return;
    }
    if (state_ == Body)
        checkBody();
}

void HTTPRequestReader::parseHead(uint32_t headEnd) {
    std::string firstLine;
    headers_.clear();
    // Only the head is read here; the body bytes behind it are not header lines.
    bodyOffset_ = readHead(current(), headEnd, firstLine, headers_);
    const HeaderField* transfer = headers_.find("Transfer-Encoding");
    chunked_ = transfer != nullptr && equalsIgnoringCase(transfer->value, "chunked");
    const HeaderField* length = headers_.find("Content-Length");
    contentLength_ = length != nullptr ? leadingNumber64(length->value) : 0;
    chunkScanFrom_ = 0;
    state_ = Body;
    if (!chunked_ && contentLength_ > 0 &&
        uint64_t(bodyOffset_) + uint64_t(contentLength_) + 1 > buffer_.lengthLimit()) {
        state_ = Failed;
        return;
    }
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
    }
    // The message ends with the empty line behind the optional trailer fields.
    uint32_t trailerEnd = 0;
    if (findTrailerEnd(body, available, chunkedBodyEnd_, &trailerEnd)) {
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
    requestEnd_ = 0;
    continueRequested_ = false;
    state_ = Idle;
}

void HTTPRequestReader::emptyBuffer() {
    // A keep-alive connection reuses a small block for every request; a block grown
    // for a large body is given back instead of held while the client idles.
    if (buffer_.capacity() > kKeptBlockSize) {
        buffer_ = IOB();  // clear() would keep the block
    } else {
        buffer_.setLength(0);
        if (buffer_.data() != nullptr)
            buffer_.data()[0] = 0;
    }
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
