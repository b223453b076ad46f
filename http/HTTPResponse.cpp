#include "http/HTTPResponse.h"

#include <cstdint>

#include "http/MessageText.h"
#include "platform/NumberText.h"

namespace HTTPParser {

void HTTPResponse::setFirstLine(const std::string& line) {
    HTTPObject::setFirstLine(line);
    size_t blank = line.find(' ');
    if (blank == std::string::npos || blank + 1 == line.size()) {
        statusCode_ = 0;
        return;
    }
    // Only the leading digits count: "200 OK" is 200.
    std::string rest = line.substr(blank + 1);
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    int64_t code = leadingNumber64(rest.substr(0, digits));
    statusCode_ = code > INT32_MAX ? INT32_MAX : static_cast<int>(code);
}

}  // namespace HTTPParser
