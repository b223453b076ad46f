#include "platform/NumberText.h"

#include <limits>

namespace {

bool isWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int64_t leadingNumber64(const std::string& text) {
    constexpr int64_t kSaturation = int64_t(1) << 40;
    size_t at = 0;
    while (at < text.size() && isWhiteSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (magnitude < kSaturation)
            magnitude = magnitude * 10 + (text[at] - '0');
    }
    return negative ? -magnitude : magnitude;
}

int32_t leadingNumber(const std::string& text) {
    int64_t value = leadingNumber64(text);
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
