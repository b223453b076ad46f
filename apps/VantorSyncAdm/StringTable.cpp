#include "apps/VantorSyncAdm/StringTable.h"

const std::map<int, std::string>& builtInStrings() {
    static const std::map<int, std::string> strings = {
        {StringId::kProgramName, "VantorSyncAdm"},
        {StringId::kServiceActive, "Service is active"},
        {StringId::kServiceStopped, "Service is stopped"},
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
        {StringId::kAbout, "About"},
    };
    return strings;
}
