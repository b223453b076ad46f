// Reading configuration text into the model: all of a text or none of it.
#include <algorithm>

#include "config/AddressEntry.h"
#include "config/HostNames.h"
#include "config/Settings.h"
#include "config/TrustedProxies.h"
#include "config/XMLSAXParser.h"
#include "platform/FileSystem.h"

namespace {

size_t lineOf(const std::string& text, size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

std::string syntaxError(const std::string& text, const XML::SAXParser& parser) {
    if (text.find_first_not_of(" \t\n\v\f\r") == std::string::npos)
        return "the text is empty";
    std::string where = "line " + std::to_string(lineOf(text, parser.lastErrorOffset())) + ": ";
    if (!parser.lastErrorMessage().empty())
        return where + parser.lastErrorMessage();
    return where + "not well-formed XML (a tag, comment or text breaks off or is malformed)";
}

}  // namespace

bool Settings::stageText(const std::string& text, Check check, ListReading list, Settings& staged,
                         std::string& why) const {
    staged.setValues(getValues());
    if (list == ListReading::Merge)
        staged.setAccessList(getAccessList());
    XML::SAXParser parser;
    parser.setContentHandler(&staged);
    if (!parser.parseString(text)) {
        why = syntaxError(text, parser);
        return false;
    }
    if (check != Check::Parsed && !parser.openElements().empty()) {
        why = "the text breaks off: <" + parser.openElements().back() + "> is never closed";
        return false;
    }
    const SettingsData values = staged.getValues();
    if (check == Check::Usable && !isUsablePort(values.port)) {
        AutoLock guard(staged.lock_);
        const std::string shown =
            staged.portText_.empty() ? std::to_string(values.port) : staged.portText_;
        why = "the port \"" + shown + "\" is outside " + kPortRangeText;
        return false;
    }
    // A proxy given by mistake as a name would trust nobody; better to say so now.
    const std::vector<std::string> proxies = TrustedProxies::malformed(values.trustedProxies);
    if (check == Check::Usable && !proxies.empty()) {
        why = proxies.front();
        return false;
    }
    std::vector<std::string> addresses;
    if (check == Check::Usable && !ListenAddresses::parse(values.listenAddresses, addresses, why))
        return false;
    return true;
}

void Settings::adopt(const Settings& staged) {
    SettingsData values = staged.getValues();
    AccessList list = staged.getAccessList();
    AutoLock guard(lock_);
    values_ = values;
    accessList_.swap(list);
    policy_.reset();
}

bool Settings::applyText(const std::string& text, Check check, ListReading list, std::string& why) {
    AutoLock guard(lock_);
    Settings staged;
    if (!stageText(text, check, list, staged, why))
        return false;
    adopt(staged);
    return true;
}

bool Settings::loadFile(const std::string& path) {
    std::string text;
    if (path.empty() || !FileSystem::readFile(path, text))
        return false;
    AutoLock guard(lock_);
    Settings staged;
    std::string why;
    const bool parsed = stageText(text, Check::Parsed, ListReading::Merge, staged, why);
    // Start-up rewrites a file that fails from the model, so what could be read before the
    // fault is kept rather than lost with the file.
    adopt(staged);
    return parsed;
}

bool Settings::reloadFile(const std::string& path, std::string& why) {
    std::string text;
    if (path.empty() || !FileSystem::readFile(path, text)) {
        why = "the file is missing or cannot be read";
        return false;
    }
    return applyText(text, Check::Usable, ListReading::Replace, why);
}

bool Settings::checkNewEntries(const Settings& staged, std::string& refusal) const {
    AutoLock guard(lock_);
    for (const auto& entry : staged.getAccessList()) {
        if (accessList_.count(entry.first) != 0)
            continue;
        std::string reason;
        if (!HostNames::isStorableAsText(entry.first)) {
            refusal = std::string(HostNames::kRefusal) + ": " + HostNames::visible(entry.first);
            return false;
        }
        if (AddressEntry::classify(entry.first, nullptr, &reason) ==
            AddressEntry::Kind::Malformed) {
            refusal = "access entry " + HostNames::visible(entry.first) +
                      " is not a valid address entry: " + reason;
            return false;
        }
    }
    return true;
}
