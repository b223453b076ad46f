#include "http/HTTPRequest.h"

#include "http/MessageFraming.h"
#include "http/MessageText.h"
#include "platform/NumberText.h"

namespace HTTPParser {

void HTTPRequest::setFirstLine(const std::string& line) {
    HTTPObject::setFirstLine(line);
    size_t firstBlank = line.find(' ');
    if (firstBlank == std::string::npos)
        return;
    method_ = line.substr(0, firstBlank);
    size_t secondBlank = line.find(' ', firstBlank + 1);
    if (secondBlank == std::string::npos)
        return;
    target_ = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    version_ = line.substr(secondBlank + 1);
}

bool HTTPRequest::keepsConnection() const {
    if (hasListToken(headers(), "Connection", "close"))
        return false;
    // An HTTP/1.0 message with a transfer coding has framing a 1.0 peer or proxy may have
    // read differently: what follows it on the connection cannot be trusted.
    if (equalsIgnoringCase(version_, "HTTP/1.0") && headers().find("Transfer-Encoding") != nullptr)
        return false;
    if (equalsIgnoringCase(version_, "HTTP/1.0"))
        return hasListToken(headers(), "Connection", "keep-alive");
    return true;
}

std::string HTTPRequest::getPath() const {
    return percentDecode(target_.substr(0, target_.find('?')));
}

std::string HTTPRequest::percentDecode(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
            hexDigitValue(text[i + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
            i += 2;
        } else if (c == '+') {
            decoded.push_back(' ');
        } else {
            decoded.push_back(c);
        }
    }
    return decoded;
}

}  // namespace HTTPParser
