#include "config/XMLEntities.h"

namespace XML {

namespace {

void replaceAll(std::string& text, const std::string& entity, char replacement) {
    size_t at = text.find(entity);
    while (at != std::string::npos) {
        text.replace(at, entity.size(), 1, replacement);
        at = text.find(entity, at);
    }
}

}  // namespace

std::string decodeEntities(std::string text) {
    if (text.find('&') == std::string::npos)
        return text;
    replaceAll(text, "&quot;", '"');
    replaceAll(text, "&lt;", '<');
    replaceAll(text, "&gt;", '>');
    replaceAll(text, "&amp;", '&');
    return text;
}

std::string escapeAttribute(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
                break;
        }
    }
    return escaped;
}

}  // namespace XML
