#pragma once

#include <string>

#include "http/Header.h"
#include "http/IOB.h"

namespace HTTPParser {

// One HTTP/1.1 message: first line, header fields and body, with the transfer and
// content codings applied when it is written and removed when it is parsed.
class HTTPObject {
  public:
    HTTPObject() = default;
    virtual ~HTTPObject() = default;
    // Copies carry first line, fields and body; the framing flags start clear.
    HTTPObject(const HTTPObject& other);
    HTTPObject& operator=(const HTTPObject& other);

    virtual std::string getFirstLine() const { return firstLine_; }
    virtual void setFirstLine(const std::string& line) { firstLine_ = line; }
    // Writes the whole message; false only when out cannot hold it.
    virtual bool serialize(IOB& out);
    // Reads a whole message held in memory, removing chunked and content codings.
    virtual bool parse(const IOB& message);

    Header& headers() { return headers_; }
    const Header& headers() const { return headers_; }
    // Shorthand for headers().add, as handlers add their fields.
    void add(const std::string& name, const std::string& value) { headers_.add(name, value); }
    IOB& getBody() { return body_; }
    const IOB& getBody() const { return body_; }
    bool isChunked() const { return chunked_; }
    // Where the body starts in the bytes of the last serialize: what a HEAD answer keeps.
    uint32_t serializedHeadLength() const { return serializedHeadLength_; }
    bool isEncoded() const { return encoded_; }

  protected:
    // Keeps "Content-Length" equal to the length of the body that is sent.
    void fixContentLength(uint32_t sentLength);
    // Body bytes sent after the serialized message from elsewhere (see HTTPResponse).
    virtual uint32_t bodyLengthSentApart() const { return 0; }

  private:
    bool hasChunkedTransferCoding() const;
    bool hasKnownContentCoding() const;

    bool chunked_ = false;
    bool encoded_ = false;
    uint32_t serializedHeadLength_ = 0;
    std::string firstLine_;
    Header headers_;
    IOB body_;
};

}  // namespace HTTPParser
