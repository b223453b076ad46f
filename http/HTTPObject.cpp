#include "http/HTTPObject.h"

#include <zlib.h>

#include <cstdio>

#include "http/ChunkedCoding.h"
#include "http/ContentCoding.h"
#include "http/MessageFraming.h"
#include "http/MessageText.h"
#include "platform/NumberText.h"

namespace HTTPParser {

namespace {

const char kContentLength[] = "Content-Length";
const char kContentEncoding[] = "Content-Encoding";
const char kDecodeFailed[] = "decode_failed";

}  // namespace

HTTPObject::HTTPObject(const HTTPObject& other)
    : firstLine_(other.firstLine_), headers_(other.headers_) {
    body_.assign(other.body_);
}

HTTPObject& HTTPObject::operator=(const HTTPObject& other) {
    if (this != &other) {
        chunked_ = false;
        encoded_ = false;
        firstLine_ = other.firstLine_;
        headers_.assign(other.headers_);
        body_.assign(other.body_);
    }
    return *this;
}

bool HTTPObject::hasChunkedTransferCoding() const {
    return lastCodingIsChunked(headers_);
}

bool HTTPObject::hasKnownContentCoding() const {
    const HeaderField* field = headers_.find(kContentEncoding);
    return field != nullptr && isKnownContentCoding(field->value);
}

void HTTPObject::fixContentLength(uint32_t sentLength) {
    chunked_ = hasChunkedTransferCoding();
    const HeaderField* field = headers_.find(kContentLength);
    if (field == nullptr || chunked_ || leadingNumber64(field->value) == sentLength)
        return;
    headers_.remove(kContentLength);
    headers_.add(kContentLength, std::to_string(sentLength));
}

bool HTTPObject::serialize(IOB& out) {
    encoded_ = hasKnownContentCoding();
    if (headers_.find(kDecodeFailed) != nullptr) {
        // The body could not be decoded when read, so it goes out exactly as it came.
        encoded_ = false;
        headers_.remove(kDecodeFailed);
    }
    IOB compressed;
    if (encoded_) {
        if (compressBody(body_, compressed)) {
            if (equalsIgnoringCase(headers_.find(kContentEncoding)->value, "deflate")) {
                headers_.remove(kContentEncoding);
                headers_.add(kContentEncoding, "gzip");
            }
        } else {
            encoded_ = false;
        }
    }
    const IOB& sent = encoded_ ? compressed : body_;

    out.clear();
    if (!firstLine_.empty() && !out.append(firstLine_.data(), uint32_t(firstLine_.size()))) {
        return false;
    }
    if (!out.append("\r\n", 2))
        return false;
    fixContentLength(sent.length() + bodyLengthSentApart());
    std::string fields = headers_.serialize();
    if (!fields.empty() && !out.append(fields.data(), uint32_t(fields.size())))
        return false;
    if (!out.append("\r\n", 2))
        return false;
    serializedHeadLength_ = out.length();
    if (chunked_)
        return encodeChunked(sent, out);
    return sent.length() == 0 || out.append(sent.data(), sent.length());
}

bool HTTPObject::parse(const IOB& message) {
    if (message.length() == 0)
        return false;
    std::string firstLine;
    Header fields;
    uint32_t bodyStart = readHead(message.chars(), message.length(), firstLine, fields);
    setFirstLine(firstLine);

    headers_.assign(fields);
    // The mark below is ours alone: one that came with the message would make the writer
    // send a decoded body under its coding field.
    headers_.remove(kDecodeFailed);
    encoded_ = hasKnownContentCoding();
    chunked_ = hasChunkedTransferCoding();

    IOB bodyBytes;
    const char* bodyData = message.chars() + bodyStart;
    uint32_t bodyLength = message.length() - bodyStart;
    if (chunked_) {
        uint32_t position = 0;
        scanChunked(bodyData, bodyLength, &position, &bodyBytes);
    } else if (bodyLength > 0) {
        bodyBytes.append(bodyData, bodyLength);
    }

    if (!encoded_) {
        body_ = std::move(bodyBytes);
        return true;
    }
    IOB decoded;
    int result = inflateToBuffer(bodyBytes, decoded);
    if (result == Z_OK || (result == Z_DATA_ERROR && decoded.length() > 0)) {
        // Partly damaged data still yields what could be decoded.
        body_ = std::move(decoded);
    } else {
        body_ = std::move(bodyBytes);
        headers_.add(kDecodeFailed, "1");
    }
    return true;
}

}  // namespace HTTPParser
