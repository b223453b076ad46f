#pragma once

#include <map>
#include <string>

// The console's built-in string table.
namespace StringId {
constexpr int kProgramName = 128;
constexpr int kServiceActive = 129;
constexpr int kServiceStopped = 130;
constexpr int kHostNameColumn = 131;
constexpr int kAllowedGetColumn = 132;
constexpr int kAllowedPostColumn = 133;
constexpr int kYes = 134;
constexpr int kNo = 135;
constexpr int kHostNotUnique = 136;
constexpr int kDeleteSelected = 137;
constexpr int kClearWhitelist = 138;
constexpr int kClearTrainingDb = 139;
constexpr int kHostNameNotText = 140;
constexpr int kAddressEntryInvalid = 141;
constexpr int kPortOutOfRange = 142;
constexpr int kStatusUnreachable = 143;
constexpr int kStatusNotPermitted = 144;
constexpr int kServiceUnreachable = 145;
constexpr int kNotPermitted = 146;
constexpr int kAccessNoteWithAddresses = 147;
constexpr int kConfigUnreadable = 148;
constexpr int kListenAddressesInvalid = 149;
constexpr int kAbout = 32772;
}  // namespace StringId

const std::map<int, std::string>& builtInStrings();
