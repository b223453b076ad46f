#include "apps/VantorSyncAdm/StringTable.h"

const std::map<int, std::string>& builtInStrings() {
    static const std::map<int, std::string> strings = {
        {StringId::kProgramName, "VantorSyncAdm"},
        {StringId::kServiceActive, "Service is active"},
        // The service keeps running while only its HTTP server is stopped.
        {StringId::kServiceStopped, "Sync server is stopped; the service is running"},
        {StringId::kHostNameColumn, "Host name"},
        {StringId::kAllowedGetColumn, "Allowed Get"},
        {StringId::kAllowedPostColumn, "Allowed Post"},
        {StringId::kYes, "Yes"},
        {StringId::kNo, "No"},
        {StringId::kHostNotUnique, "Host name is not unique"},
        {StringId::kDeleteSelected, "Delete the selected items?"},
        {StringId::kClearWhitelist, "Clear the common whitelist of email addresses?"},
        {StringId::kClearTrainingDb, "Clear the common training database?"},
        {StringId::kHostNameNotText, "A host name must be UTF-8 text without control characters"},
        {StringId::kAddressEntryInvalid, "Not a valid address or address prefix"},
        {StringId::kPortOutOfRange, "The TCP server port must be a number from 1 to 65535."},
        {StringId::kStatusUnreachable, "Service cannot be reached"},
        {StringId::kStatusNotPermitted, "Not permitted to manage the service"},
        {StringId::kServiceUnreachable,
         "The sync service VantorSyncSvc cannot be reached. Start it (sudo systemctl start "
         "VantorSyncSvc), then press Refresh."},
        {StringId::kNotPermitted,
         "You are not allowed to manage the sync service. Only root, users logged in at the "
         "machine's console and members of the groups sudo and adm may; start the console as "
         "one of them."},
        {StringId::kAccessNoteWithAddresses,
         "Set the access rights for network hosts. As the list holds address entries, hosts "
         "at addresses not listed get no rights and the default rights are not used."},
        {StringId::kConfigUnreadable,
         "The service's configuration cannot be edited because it could not be read:"},
        {StringId::kListenAddressesInvalid,
         "The server listens on numeric IPv4 or IPv6 addresses, separated by commas (for "
         "example 0.0.0.0, ::)."},
        {StringId::kAbout, "About"},
    };
    return strings;
}
