#pragma once

#include <string>

#include "http/HTTPObject.h"

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

  private:
    int statusCode_ = 0;
    bool closeAfterSend_ = false;
};

}  // namespace HTTPParser
