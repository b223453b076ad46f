#include "config/Settings.h"

#include <cstdint>
#include <limits>

#include "config/AddressEntry.h"
#include "config/HostNames.h"
#include "config/XMLEntities.h"
#include "platform/AtomicFile.h"
#include "platform/NumberText.h"

namespace {

const char kDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config>\r\n";

bool truthOf(const std::string& text) {
    return leadingNumber(text) != 0;
}

std::string flag(bool value) {
    return value ? "1" : "0";
}

std::string element(const char* name, const std::string& value) {
    return std::string("  <") + name + ">" + value + "</" + name + ">\r\n";
}

}  // namespace

Settings::Settings(Owner owner) {
    if (owner == Owner::Service)
        setDataFolder(selectDataFolder());
}

Settings::~Settings() {
    AutoLock guard(lock_);
    accessList_.clear();
    policy_.reset();
    dataFolder_.clear();
}

SettingsData Settings::getValues() const {
    AutoLock guard(lock_);
    return values_;
}

void Settings::setValues(const SettingsData& values) {
    AutoLock guard(lock_);
    values_ = values;
}

AccessList Settings::getAccessList() const {
    AutoLock guard(lock_);
    return accessList_;
}

void Settings::setAccessList(const AccessList& list) {
    AutoLock guard(lock_);
    if (&list != &accessList_) {
        accessList_ = list;
        policy_.reset();
    }
}

AccessRights Settings::rightsForHost(const std::string& host) const {
    AutoLock guard(lock_);
    auto found = accessList_.find(host);
    return found != accessList_.end() ? found->second : values_.defaultAcl;
}

AccessRights Settings::rightsForClient(const std::string& peer, const std::string* host) const {
    AutoLock guard(lock_);
    if (!policy_)
        policy_.emplace(accessList_);
    return policy_->rightsFor(peer, host, accessList_, values_.defaultAcl);
}

std::vector<std::string> Settings::malformedAddressEntries() const {
    AutoLock guard(lock_);
    std::vector<std::string> lines;
    for (const auto& entry : accessList_) {
        std::string reason;
        if (AddressEntry::classify(entry.first, nullptr, &reason) ==
            AddressEntry::Kind::Malformed) {
            lines.push_back("access entry " + HostNames::visible(entry.first) +
                            " is not a valid address entry (" + reason + ")");
        }
    }
    return lines;
}

bool Settings::isTrustedProxy(const std::string& peer) const {
    AutoLock guard(lock_);
    if (proxiesText_ != values_.trustedProxies) {
        proxies_ = TrustedProxies(values_.trustedProxies);
        proxiesText_ = values_.trustedProxies;
    }
    return proxies_.contains(peer);
}

std::vector<std::string> Settings::malformedTrustedProxies() const {
    AutoLock guard(lock_);
    return TrustedProxies::malformed(values_.trustedProxies);
}

std::string Settings::dataFolder() const {
    AutoLock guard(lock_);
    return dataFolder_;
}

void Settings::setDataFolder(const std::string& folder) {
    AutoLock guard(lock_);
    dataFolder_ = folder;
}

std::string Settings::configText() const {
    AutoLock guard(lock_);
    const SettingsData& v = values_;
    std::string text = kDeclaration;
    text += element("port", std::to_string(v.port));
    // Only when set: a file for the default stays byte for byte what it always was, and
    // an older version reading a newer file listens where it always did.
    if (v.listenAddresses != ListenAddresses::kDefault)
        text += element(ListenAddresses::kElement, ListenAddresses::tidy(v.listenAddresses));
    text += element("common_whitelist_enabled", flag(v.commonWhitelistEnabled));
    text += element("common_whitelist_max_size",
                    std::to_string(static_cast<int32_t>(v.commonWhitelistMaxSize)));
    text += element("common_training_db_enabled", flag(v.commonTrainingDbEnabled));
    text += element("common_training_db_max_size", std::to_string(v.commonTrainingDbMaxSize));
    text += element("log_enabled", flag(v.logEnabled));
    text += element("log_file_lifetime", std::to_string(v.logFileLifetime));
    // Only when set, so a file without proxies keeps the layout older versions wrote.
    if (!v.trustedProxies.empty())
        text += element("trusted_proxies", XML::escapeAttribute(v.trustedProxies));
    text += "  <default_acl enabled_get=\"" + flag(v.defaultAcl.allowGet) + "\" enabled_post=\"" +
            flag(v.defaultAcl.allowPost) + "\"/>\r\n";
    text += "  <access_list>\r\n";
    for (const auto& [host, rights] : accessList_) {
        // Escaped so that quotes, ampersands and angle brackets in a name cannot break
        // the tag; the reader decodes them again. A name that is not text (kept from an
        // older file) goes hex-encoded, so the file stays well-formed UTF-8.
        const std::string name = HostNames::isStorableAsText(host)
                                     ? "host=\"" + XML::escapeAttribute(host)
                                     : "host_bytes=\"" + HostNames::toHex(host);
        text += "\t\t<acl " + name + "\" enabled_get=\"" + flag(rights.allowGet) +
                "\" enabled_post=\"" + flag(rights.allowPost) + "\"/>\r\n";
    }
    text += "  </access_list>\r\n";
    text += "</config>";
    return text;
}

bool Settings::saveFile(const std::string& path) {
    AutoLock guard(lock_);
    if (path.empty())
        return false;
    return replaceFileContents(path, configText());
}

void Settings::onElementText(const XML::Element& element) {
    AutoLock guard(lock_);
    const std::string& name = element.name();
    const std::string& value = text();
    if (name == "port") {
        values_.port = leadingNumber(value);
        portText_ = value;
    } else if (name == ListenAddresses::kElement) {
        values_.listenAddresses = ListenAddresses::tidy(value);
    } else if (name == "common_whitelist_enabled") {
        values_.commonWhitelistEnabled = truthOf(value);
    } else if (name == "common_whitelist_max_size") {
        values_.commonWhitelistMaxSize = static_cast<uint32_t>(leadingNumber(value));
    } else if (name == "common_training_db_enabled") {
        values_.commonTrainingDbEnabled = truthOf(value);
    } else if (name == "common_training_db_max_size") {
        values_.commonTrainingDbMaxSize = leadingNumber(value);
    } else if (name == "log_enabled") {
        values_.logEnabled = truthOf(value);
    } else if (name == "log_file_lifetime") {
        values_.logFileLifetime = leadingNumber(value);
    } else if (name == "trusted_proxies") {
        values_.trustedProxies = TrustedProxies::normalised(value);
    }
}

void Settings::onElementStart(const XML::Element& element) {
    AutoLock guard(lock_);
    std::string value;
    if (element.name() == "default_acl") {
        if (element.attribute("enabled_get", value))
            values_.defaultAcl.allowGet = truthOf(value);
        if (element.attribute("enabled_post", value)) {
            values_.defaultAcl.allowPost = truthOf(value);
        }
    } else if (element.name() == "acl") {
        AccessRights rights;
        if (element.attribute("enabled_get", value))
            rights.allowGet = truthOf(value);
        if (element.attribute("enabled_post", value))
            rights.allowPost = truthOf(value);
        std::string host;
        if (element.attribute("host", host)) {
            accessList_[host] = rights;
            policy_.reset();
        } else if (element.attribute("host_bytes", value) && HostNames::fromHex(value, host) &&
                   !host.empty()) {
            accessList_[host] = rights;
            policy_.reset();
        }
    }
}
