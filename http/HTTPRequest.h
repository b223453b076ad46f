#pragma once

#include <string>

#include "http/HTTPObject.h"

namespace HTTPParser {

// A request: the request line split into method, target and version, and the
// address of the peer that sent it as the connection knows it.
class HTTPRequest : public HTTPObject {
  public:
    HTTPRequest() = default;
    ~HTTPRequest() override = default;
    HTTPRequest(const HTTPRequest&) = default;
    HTTPRequest& operator=(const HTTPRequest&) = default;

    // Method = text before the first blank, target = text between the first and
    // the second blank. A line without blanks leaves both as they were.
    void setFirstLine(const std::string& line) override;

    std::string getMethod() const { return method_; }
    const std::string& getTarget() const { return target_; }
    // The text after the second blank of the request line, e.g. "HTTP/1.1".
    const std::string& getVersion() const { return version_; }
    // Whether the client keeps the connection open after the answer: not when it
    // sent "Connection: close", nor as an HTTP/1.0 client without "keep-alive".
    bool keepsConnection() const;
    // Set by the connection, never from anything the client sent.
    const std::string& getPeerAddress() const { return peerAddress_; }
    void setPeerAddress(const std::string& address) { peerAddress_ = address; }
    // The target before any "?", percent-decoded, "+" read as a blank.
    std::string getPath() const;

    static std::string percentDecode(const std::string& text);

  private:
    std::string method_ = "GET";
    std::string target_;
    std::string version_;
    std::string peerAddress_;
};

}  // namespace HTTPParser
