#include "apps/VantorSyncSvc/AccessLogLine.h"

#include <cstdio>

std::string AccessLogLine::escapeField(const std::string& value) {
    if (value.empty())
        return "-";
    if (value == "-")
        return "\\x2d";
    static const char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(value.size());
    for (unsigned char c : value) {
        if (c > ' ' && c != 0x7f && c != '\\') {
            escaped.push_back(static_cast<char>(c));
        } else {
            escaped.push_back('\\');
            escaped.push_back('x');
            escaped.push_back(kHex[c >> 4]);
            escaped.push_back(kHex[c & 0xf]);
        }
    }
    return escaped;
}

std::string AccessLogLine::text() const {
    char numbers[48];
    std::snprintf(numbers, sizeof numbers, " %d %d %d", status, requestBytes, responseBytes);
    return escapeField(peer) + " " + escapeField(host) + " " + escapeField(method) + " " +
           escapeField(path) + numbers;
}
