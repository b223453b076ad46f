#include "config/TrustedProxies.h"

#include "config/HostNames.h"

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

TrustedProxies::TrustedProxies(const std::string& text) {
    for (const std::string& item : items(text)) {
        AddressEntry entry;
        if (AddressEntry::classify(item, &entry) == AddressEntry::Kind::Address)
            entries_.push_back(entry);
    }
}

bool TrustedProxies::contains(const std::string& peer) const {
    AddressEntry::Bytes address;
    if (entries_.empty() || !AddressEntry::parsePeer(peer, address))
        return false;
    for (const AddressEntry& entry : entries_) {
        if (entry.matches(address))
            return true;
    }
    return false;
}

std::vector<std::string> TrustedProxies::items(const std::string& text) {
    std::vector<std::string> found;
    size_t position = 0;
    while (position < text.size()) {
        while (position < text.size() && isSeparator(text[position]))
            ++position;
        size_t end = position;
        while (end < text.size() && !isSeparator(text[end]))
            ++end;
        if (end > position)
            found.push_back(text.substr(position, end - position));
        position = end;
    }
    return found;
}

std::string TrustedProxies::normalised(const std::string& text) {
    std::string joined;
    for (const std::string& item : items(text))
        joined += (joined.empty() ? "" : " ") + item;
    return joined;
}

std::vector<std::string> TrustedProxies::malformed(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& item : items(text)) {
        std::string reason;
        const AddressEntry::Kind kind = AddressEntry::classify(item, nullptr, &reason);
        if (kind == AddressEntry::Kind::Address)
            continue;
        if (kind == AddressEntry::Kind::Name)
            reason = "a trusted proxy must be given by its address or prefix";
        lines.push_back("trusted proxy " + HostNames::visible(item) +
                        " is not an address or prefix (" + reason + ")");
    }
    return lines;
}
