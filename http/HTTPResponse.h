#pragma once

#include <memory>
#include <string>

#include "http/HTTPObject.h"
#include "http/SharedAnswer.h"

namespace HTTPParser {

// A response: the status code read from the status line, and whether the
// connection closes once the response has been written.
class HTTPResponse : public HTTPObject {
  public:
    HTTPResponse() = default;
    ~HTTPResponse() override = default;
    HTTPResponse(const HTTPResponse&) = default;
    HTTPResponse& operator=(const HTTPResponse&) = default;

    // The status code is the number after the first blank; 0 without one.
    void setFirstLine(const std::string& line) override;

    int getStatusCode() const { return statusCode_; }
    void setCloseAfterSend(bool close) { closeAfterSend_ = close; }
    bool getCloseAfterSend() const { return closeAfterSend_; }

    // A body shared with other answers: written to the connection after the serialized
    // head, as it is (no content or chunked coding), in place of getBody(), which stays
    // empty. "Content-Length" counts it.
    void setSharedBody(std::shared_ptr<const SharedAnswer> body) { sharedBody_ = std::move(body); }
    const std::shared_ptr<const SharedAnswer>& sharedBody() const { return sharedBody_; }
    // The length of the body sent, shared or not.
    uint32_t bodyLength() const { return getBody().length() + bodyLengthSentApart(); }

  protected:
    uint32_t bodyLengthSentApart() const override {
        return sharedBody_ != nullptr ? sharedBody_->length() : 0;
    }

  private:
    std::shared_ptr<const SharedAnswer> sharedBody_;
    int statusCode_ = 0;
    bool closeAfterSend_ = false;
};

}  // namespace HTTPParser
