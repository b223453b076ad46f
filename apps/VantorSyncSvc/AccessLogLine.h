#pragma once

#include <cstdint>
#include <string>

// One access line's text (the log puts the time in front): peer address, declared host,
// method, path, status, request and response body lengths, separated by single blanks.
// Host, method and path come from the client, so they are written so that splitting the
// line at blanks always gives the same seven columns and each column reads back exactly:
// a blank, a backslash and every control byte become "\x" and two lower-case hexadecimal
// digits (the log's rule for control bytes, extended), an empty value is "-", and a value
// that is just "-" is "\x2d". Every other byte, UTF-8 included, is written as it is, so
// real host names, methods and sync paths appear unchanged.
struct AccessLogLine {
    std::string peer;
    std::string host;
    std::string method;
    std::string path;
    int status = 0;
    int requestBytes = 0;
    int responseBytes = 0;

    std::string text() const;
    static std::string escapeField(const std::string& value);
};
