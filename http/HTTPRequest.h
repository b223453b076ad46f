#pragma once

#include <string>

#include "http/HTTPObject.h"

namespace HTTPParser {

// A request: the request line split into method and target.
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
    // The target before any "?", percent-decoded, "+" read as a blank.
    std::string getPath() const;

    static std::string percentDecode(const std::string& text);

  private:
    std::string method_ = "GET";
    std::string target_;
};

}  // namespace HTTPParser
