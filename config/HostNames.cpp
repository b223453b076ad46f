#include "config/HostNames.h"

#include <cstdint>

namespace {

// Decodes one UTF-8 sequence at text[i]; false for a malformed, overlong or surrogate form.
bool decodeAt(const std::string& text, size_t& i, uint32_t& code) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        ++i;
        return true;
    }
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        code = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        code = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        code = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - i < length)
        return false;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xc0) != 0x80)
            return false;
        code = (code << 6) | (next & 0x3f);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return false;
    i += length;
    return true;
}

// XML 1.0 characters minus the C0 controls (tab and line ends included) and DEL.
bool allowedCharacter(uint32_t code) {
    if (code < 0x20 || code == 0x7f)
        return false;
    return code != 0xfffe && code != 0xffff;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

namespace HostNames {

bool isStorableAsText(const std::string& name) {
    size_t i = 0;
    while (i < name.size()) {
        uint32_t code = 0;
        if (!decodeAt(name, i, code) || !allowedCharacter(code))
            return false;
    }
    return true;
}

std::string visible(const std::string& name) {
    static const char kDigits[] = "0123456789abcdef";
    std::string shown = "\"";
    for (unsigned char byte : name) {
        if (byte >= 0x20 && byte < 0x7f && byte != '\\' && byte != '"') {
            shown += static_cast<char>(byte);
        } else {
            shown += "\\x";
            shown += kDigits[byte >> 4];
            shown += kDigits[byte & 0x0f];
        }
    }
    return shown + "\"";
}

std::string toHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

bool fromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0)
        return false;
    std::string decoded;
    decoded.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexValue(hex[i]);
        const int low = hexValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        decoded += static_cast<char>(high * 16 + low);
    }
    bytes = std::move(decoded);
    return true;
}

}  // namespace HostNames
