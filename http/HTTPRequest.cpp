#include "http/HTTPRequest.h"

namespace HTTPParser {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

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
}

std::string HTTPRequest::getPath() const {
    return percentDecode(target_.substr(0, target_.find('?')));
}

std::string HTTPRequest::percentDecode(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2])));
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
