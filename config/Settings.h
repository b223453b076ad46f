#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/AccessPolicy.h"
#include "config/SettingsData.h"
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

    // Merges the document into the model: elements it lacks keep their values, access
    // entries are added or overwritten. True when the whole document was parsed; on false,
    // values read before the error stay applied.
    bool loadFile(const std::string& path);
    // As loadFile, but the file's entries become the whole access list (kept as it was
    // when the file does not parse). Scalar values merge as in loadFile.
    bool reloadFile(const std::string& path);
    // Replaces the file crash-safely with the model's text.
    bool saveFile(const std::string& path);
    // The text that saveFile writes.
    std::string configText() const;

    // Console: the configuration text through a stream, by way of a temporary file.
    bool saveToStream(ByteStream& stream);
    bool loadFromStream(ByteStream& stream);

    // Service: the exact bytes of the data folder's "config.xml" into or out of a stream.
    // An imported text defines the whole access list; scalar values merge as in loadFile.
    bool exportConfig(ByteStream& stream);
    bool importConfig(ByteStream& stream);
    // As above; when a new host name is refused (see HostNames) or a new entry looks like
    // an address but is not one (see AddressEntry), nothing is changed, the result is
    // false and refusal says why.
    bool importConfig(ByteStream& stream, std::string& refusal);

    void onElementText(const XML::Element& element) override;
    void onElementStart(const XML::Element& element) override;

  private:
    mutable CriticalSection lock_;
    std::string dataFolder_ GUARDED_BY(lock_);
    SettingsData values_ GUARDED_BY(lock_);
    AccessList accessList_ GUARDED_BY(lock_);
    // Built from accessList_ when first needed; every change to the list drops it.
    mutable std::optional<AccessPolicy> policy_ GUARDED_BY(lock_);
};
