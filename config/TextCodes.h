#pragma once

#include <cstdint>
#include <string>

// Byte-level text checks shared by the settings file and the service's bus methods: both
// must refuse the same malformed UTF-8, so they share one decoder rather than two copies
// that could drift apart.
namespace TextCodes {

// Decodes one UTF-8 sequence at text[i] (i < text.size()) into code and moves i past it;
// false for a malformed, cut-short, overlong, surrogate or beyond-U+10FFFF form.
bool decodeUtf8At(const std::string& text, size_t& i, uint32_t& code);

// True when the whole text is well-formed UTF-8 (the empty text passes).
bool isValidUtf8(const std::string& text);

}  // namespace TextCodes
