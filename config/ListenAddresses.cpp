#include "config/ListenAddresses.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace ListenAddresses {

namespace {

bool isSeparator(char c) {
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Strict forms only: inet_pton refuses "127.1" and other shorthand that inet_aton would
// read as some address the operator did not write.
bool isNumericAddress(const std::string& item, std::string& canonical) {
    unsigned char bytes[16];
    char text[INET6_ADDRSTRLEN] = {};
    if (::inet_pton(AF_INET, item.c_str(), bytes) == 1) {
        canonical = item;
        return true;
    }
    const size_t percent = item.find('%');
    const std::string head = item.substr(0, percent);
    if (::inet_pton(AF_INET6, head.c_str(), bytes) != 1)
        return false;
    std::string zone;
    if (percent != std::string::npos) {
        zone = item.substr(percent + 1);
        if (zone.empty() || zone.size() > 15 ||
            zone.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789._-") != std::string::npos) {
            return false;
        }
    }
    // One spelling per address, so that "::1" and "0::1" count as the same one.
    ::inet_ntop(AF_INET6, bytes, text, sizeof text);
    canonical = std::string(text) + (zone.empty() ? "" : "%" + zone);
    return true;
}

}  // namespace

bool parse(const std::string& text, std::vector<std::string>& addresses, std::string& why) {
    addresses.clear();
    size_t at = 0;
    while (at < text.size()) {
        if (isSeparator(text[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < text.size() && !isSeparator(text[end]))
            ++end;
        const std::string item = text.substr(at, end - at);
        at = end;
        std::string canonical;
        if (!isNumericAddress(item, canonical)) {
            why = "the listen address \"" + item +
                  "\" is not a numeric IPv4 or IPv6 address (such as 0.0.0.0, ::, 127.0.0.1 "
                  "or fd00::1)";
            return false;
        }
        if (std::find(addresses.begin(), addresses.end(), canonical) != addresses.end()) {
            why = "the listen address \"" + item + "\" is listed twice";
            return false;
        }
        addresses.push_back(canonical);
    }
    if (addresses.empty()) {
        why = "no listen address is given";
        return false;
    }
    return true;
}

std::string tidy(const std::string& text) {
    std::string tidied;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t' || c == '\r' || c == '\n')
            tidied += ' ';
        else if (byte < 0x20 || byte >= 0x7f || c == '<' || c == '>' || c == '&')
            tidied += '?';
        else
            tidied += c;
    }
    const size_t first = tidied.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return tidied.substr(first, tidied.find_last_not_of(' ') - first + 1);
}

std::string join(const std::vector<std::string>& addresses) {
    std::string text;
    for (const std::string& address : addresses)
        text += (text.empty() ? "" : ", ") + address;
    return text;
}

}  // namespace ListenAddresses
