#include "config/TextCodes.h"

namespace TextCodes {

bool decodeUtf8At(const std::string& text, size_t& i, uint32_t& code) {
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

bool isValidUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        uint32_t code = 0;
        if (!decodeUtf8At(text, i, code))
            return false;
    }
    return true;
}

}  // namespace TextCodes
