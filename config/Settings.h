#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/AccessPolicy.h"
#include "config/SettingsData.h"
#include "config/TrustedProxies.h"
#include "config/XMLSAXReader.h"
#include "platform/AutoLock.h"

class ByteStream;

// The configuration model: scalar settings, default rights, the per-host access list and
// the data folder. It reads "config.xml" as a content handler of the XML reader, merging
// each recognised element into the model, and writes the file byte for byte in its one
// fixed layout. Every operation is serialised by one re-entrant lock; getters return copies.
class Settings : public XML::SAXReader {
  public:
    // The service chooses its data folder at construction; the console has none.
    enum class Owner { Console, Service };

    static constexpr const char* kConfigFileName = "config.xml";

    explicit Settings(Owner owner = Owner::Console);
    ~Settings() override;

    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    SettingsData getValues() const;
    void setValues(const SettingsData& values);
    AccessList getAccessList() const;
    void setAccessList(const AccessList& list);
    // The entry of exactly this host name, else the default rights.
    AccessRights rightsForHost(const std::string& host) const;
    // The rights of a request from the peer address (as the connection reports it) that
    // declares the host name (nullptr when it declares none); see AccessPolicy. Without
    // address entries in the list this is rightsForHost, and nothing without a name.
    AccessRights rightsForClient(const std::string& peer, const std::string* host) const;
    // One line per entry that looks like an address but is not one: such an entry matches
    // no client, yet it keeps the list an address check.
    std::vector<std::string> malformedAddressEntries() const;
    // Whether the peer address (as the connection reports it) is a trusted proxy's.
    bool isTrustedProxy(const std::string& peer) const;
    // One line per trusted proxy that is not an address or prefix; it trusts nobody.
    std::vector<std::string> malformedTrustedProxies() const;

    // Ends in "/" in the service; empty in the console.
    std::string dataFolder() const;
    void setDataFolder(const std::string& folder);
    std::string configPath() const { return dataFolder() + kConfigFileName; }

    // The per-account folder of the service, "VantorSyncSvc" under the first usable of
    // $XDG_CONFIG_HOME (default ~/.config), $XDG_DATA_HOME (default ~/.local/share) and
    // ~/Documents. A candidate is created when missing and must pass probeFolderWritable.
    // The result ends in "/". When no candidate passes, the last one formed is returned;
    // when none could be formed at all (no absolute HOME and no absolute XDG variables), the
    // empty string. Relative values of these variables are ignored.
    static std::string selectDataFolder();
    // Creates folder + "check.txt", writes one byte, closes and deletes it. True only when
    // the file could be created and the byte written. Whatever had that name is lost.
    static bool probeFolderWritable(const std::string& folder);

    // How much a text must get right before any of it is applied.
    enum class Check {
        // The whole text parses; elements left open at its end are accepted (start-up reads
        // the file it always has).
        Parsed,
        // Also every element is closed, so a text that broke off between two tags is refused.
        Complete,
        // Also the port is one a server can listen on and the listen addresses are
        // addresses (see ListenAddresses): what a running service takes in.
        Usable,
    };
    // Whether the access list held is merged with the text's entries or replaced by them.
    enum class ListReading { Merge, Replace };

    // Reads the text into a copy of the model and applies it only when it passes the check:
    // elements it lacks keep their values, and access entries merge or replace as asked.
    // Otherwise nothing changes, and `why` says what is wrong (with the line).
    bool applyText(const std::string& text, Check check, ListReading list, std::string& why);
    // Start-up: merges the file's text at Check::Parsed. Unlike applyText, what was read
    // before a fault stays applied (the caller then rewrites the file from the model).
    bool loadFile(const std::string& path);
    // The file's text through applyText, replacing the access list, at Check::Usable.
    bool reloadFile(const std::string& path, std::string& why);
    // Replaces the file crash-safely with the model's text.
    bool saveFile(const std::string& path);
    // The text that saveFile writes.
    std::string configText() const;

    // Console: the configuration text through a stream, by way of a temporary file. A
    // text is loaded only when it is complete (Check::Complete); `why` says what is wrong.
    bool saveToStream(ByteStream& stream);
    bool loadFromStream(ByteStream& stream);
    bool loadFromStream(ByteStream& stream, std::string& why);

    // Service: the exact bytes of the data folder's "config.xml" into or out of a stream.
    // An imported text defines the whole access list; scalar values merge as in loadFile.
    // It must pass Check::Usable, and a new host name must be text (see HostNames) and a
    // new entry that looks like an address must be one (see AddressEntry); otherwise
    // neither the file nor the model changes, the result is false and refusal says why.
    bool exportConfig(ByteStream& stream);
    bool importConfig(ByteStream& stream);
    bool importConfig(ByteStream& stream, std::string& refusal);

    void onElementText(const XML::Element& element) override;
    void onElementStart(const XML::Element& element) override;

  private:
    // Parses the text into `staged`, which holds a copy of this model to begin with; false
    // with `why` set when it fails the check.
    bool stageText(const std::string& text, Check check, ListReading list, Settings& staged,
                   std::string& why) const;
    // Takes over the values and the access list of a staged model.
    void adopt(const Settings& staged);
    // Refuses new access entries that could not be written as text or are malformed
    // addresses; entries already held pass as they are.
    bool checkNewEntries(const Settings& staged, std::string& refusal) const;

    mutable CriticalSection lock_;
    std::string dataFolder_ GUARDED_BY(lock_);
    SettingsData values_ GUARDED_BY(lock_);
    AccessList accessList_ GUARDED_BY(lock_);
    // The port element's text as read, so a refusal can quote it ("abc" reads as port 0).
    std::string portText_ GUARDED_BY(lock_);
    // Built from accessList_ when first needed; every change to the list drops it.
    mutable std::optional<AccessPolicy> policy_ GUARDED_BY(lock_);
    // Parsed from the text it was built from, again whenever the setting differs.
    mutable std::string proxiesText_ GUARDED_BY(lock_);
    mutable TrustedProxies proxies_ GUARDED_BY(lock_);
};
