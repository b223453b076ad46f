#include "config/HostNames.h"

#include "config/TextCodes.h"
#include "platform/NumberText.h"

#include <cstdint>

namespace {

// XML 1.0 characters minus the C0 controls (tab and line ends included) and DEL.
bool allowedCharacter(uint32_t code) {
    if (code < 0x20 || code == 0x7f)
        return false;
    return code != 0xfffe && code != 0xffff;
}

}  // namespace

namespace HostNames {

bool isStorableAsText(const std::string& name) {
    size_t i = 0;
    while (i < name.size()) {
        uint32_t code = 0;
        if (!TextCodes::decodeUtf8At(name, i, code) || !allowedCharacter(code))
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
        const int high = hexDigitValue(hex[i]);
        const int low = hexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        decoded += static_cast<char>(high * 16 + low);
    }
    bytes = std::move(decoded);
    return true;
}

}  // namespace HostNames
