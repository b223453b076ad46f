#include "config/XMLSAXParser.h"

#include <cstdio>
#include <cstring>

#include "config/XMLAttributes.h"
#include "config/XMLContentHandler.h"
#include "config/XMLEntities.h"

namespace XML {

namespace {

// Blank, TAB, LF, VT, FF and CR.
bool isWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

size_t skipWhiteSpace(const std::string& text, size_t pos, size_t end) {
    while (pos < end && isWhiteSpace(text[pos]))
        ++pos;
    return pos;
}

std::string withoutTrailingWhiteSpace(const std::string& text, size_t begin, size_t end) {
    while (end > begin && isWhiteSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool startsWith(const std::string& text, size_t pos, const char* prefix) {
    return text.compare(pos, std::strlen(prefix), prefix) == 0;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool SAXParser::parseFile(const std::string& path) {
    errorOffset_ = 0;
    errorCode_ = 0;
    errorMessage_.clear();
    openElements_.clear();
    if (path.empty())
        return false;
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return false;
    std::string text;
    char line[1000];
    while (std::fgets(line, sizeof line, file) != nullptr)
        text.append(line, std::strlen(line));
    std::fclose(file);
    return parseString(text);
}

bool SAXParser::parseString(const std::string& text) {
    errorOffset_ = 0;
    if (handler_ == nullptr || text.empty())
        return false;
    errorCode_ = 0;
    errorMessage_.clear();
    openElements_.clear();
    size_t pos = 0;
    if (parseDocument(text, pos))
        return true;
    errorOffset_ = pos;
    return false;
}

bool SAXParser::parseDocument(const std::string& text, size_t& pos) {
    const size_t end = text.size();
    pos = skipWhiteSpace(text, 0, end);
    if (pos >= end)
        return false;
    handler_->startDocument();

    while (true) {
        pos = skipWhiteSpace(text, pos, end);
        if (pos >= end) {
            // Elements still open here are accepted.
            handler_->endDocument();
            return true;
        }
        if (startsWith(text, pos, "<!--")) {
            size_t close = text.find("-->", pos);
            if (close == std::string::npos)
                return false;
            pos = close + 3;
        } else if (startsWith(text, pos, "<?")) {
            size_t close = text.find("?>", pos);
            if (close == std::string::npos)
                return false;
            pos = close + 2;
        } else if (startsWith(text, pos, "</")) {
            if (!parseEndTag(text, pos))
                return false;
        } else if (text[pos] == '<') {
            // "<!" other than a comment would be DOCTYPE or CDATA, which we do not read;
            // "<" before a digit cannot start a name and would otherwise never be consumed.
            if (pos + 1 < end && (text[pos + 1] == '!' || isDigit(text[pos + 1])))
                return false;
            if (!parseStartTag(text, pos))
                return false;
        } else {
            if (!parseCharacters(text, pos))
                return false;
        }
    }
}

bool SAXParser::parseEndTag(const std::string& text, size_t& pos) {
    size_t close = text.find('>', pos + 2);
    if (close == std::string::npos)
        return false;
    std::string name = text.substr(pos + 2, close - pos - 2);
    if (openElements_.empty())
        return false;
    if (name != openElements_.back()) {
        errorCode_ = kTagMismatch;
        errorMessage_ =
            "End tag '" + name + "'does not match the start tag '" + openElements_.back() + "'.";
        return false;
    }
    openElements_.pop_back();
    handler_->endElement(nullptr, name.c_str(), nullptr);
    pos = close + 1;
    return true;
}

bool SAXParser::parseStartTag(const std::string& text, size_t& pos) {
    // The tag ends at the first '>', even one inside an attribute value.
    size_t close = text.find('>', pos + 1);
    if (close == std::string::npos)
        return false;

    size_t nameEnd = pos + 1;
    while (nameEnd < close && !isWhiteSpace(text[nameEnd]))
        ++nameEnd;

    std::string name;
    Attributes attributes;
    bool emptyElement = false;
    if (nameEnd < close) {
        name = text.substr(pos + 1, nameEnd - pos - 1);
        size_t at = nameEnd;
        while (true) {
            at = skipWhiteSpace(text, at, close);
            if (at >= close)
                break;
            if (text[at] == '/') {
                emptyElement = true;
                break;
            }
            if (!parseAttribute(text, at, close, attributes))
                return false;
        }
    } else {
        size_t slash = text.find('/', pos + 1);
        size_t stop = slash < close ? slash : close;
        name = text.substr(pos + 1, stop - pos - 1);
        emptyElement = slash < close;
    }

    openElements_.push_back(name);
    handler_->startElement(nullptr, name.c_str(), nullptr, attributes);
    if (emptyElement) {
        handler_->endElement(nullptr, name.c_str(), nullptr);
        openElements_.pop_back();
    }
    pos = close + 1;
    return true;
}

bool SAXParser::parseAttribute(const std::string& text, size_t& pos, size_t tagEnd,
                               Attributes& attributes) {
    size_t open = text.find('"', pos);
    if (open == std::string::npos || open >= tagEnd)
        return false;
    size_t close = text.find('"', open + 1);
    if (close == std::string::npos || close >= tagEnd)
        return false;
    size_t equals = text.find('=', pos);
    if (equals == std::string::npos || equals >= close)
        return false;

    std::string name = text.substr(pos, equals - pos);
    // The character after '=' is taken to be the opening quote, wherever the quote really is.
    size_t valueStart = equals + 2;
    std::string value = valueStart < close ? text.substr(valueStart, close - valueStart) : "";
    attributes.add(decodeEntities(std::move(name)), decodeEntities(std::move(value)));
    pos = skipWhiteSpace(text, close + 1, tagEnd);
    return true;
}

bool SAXParser::parseCharacters(const std::string& text, size_t& pos) {
    size_t next = text.find('<', pos);
    if (next == std::string::npos)
        return false;
    std::string collected = withoutTrailingWhiteSpace(text, pos, next);
    // Comments inside character data are dropped and the pieces around them joined.
    while (startsWith(text, next, "<!--")) {
        size_t close = text.find("-->", next);
        if (close == std::string::npos)
            return false;
        size_t after = close + 3;
        next = text.find('<', after);
        if (next == std::string::npos) {
            // Only white space may follow the last comment of the document.
            if (skipWhiteSpace(text, after, text.size()) < text.size())
                return false;
            next = text.size();
        }
        collected += withoutTrailingWhiteSpace(text, after, next);
    }
    handler_->characters(collected.data(), collected.size());
    pos = next;
    return true;
}

}  // namespace XML
