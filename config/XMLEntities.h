#pragma once

#include <string>

namespace XML {

// Replaces "&quot;", "&lt;", "&gt;" and "&amp;", in that order, each everywhere before
// the next. Each search goes on at the character just produced, so "&amp;amp;" gives "&".
// No other entity or character reference is recognised.
std::string decodeEntities(std::string text);

// Escapes '&', '"', '<' and '>' so the text can stand inside a double-quoted attribute.
// Note: because decoding collapses "&amp;amp;" chains, a text that itself contains
// "&amp;" reads back shortened; every other text reads back unchanged.
std::string escapeAttribute(const std::string& text);

}  // namespace XML
