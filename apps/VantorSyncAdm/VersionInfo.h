#pragma once

#include <map>
#include <string>

// The program's version information, carried in its own section of the program file as
// NUL-terminated pairs of query path and value (for instance
// "\StringFileInfo\040904B0\ProductVersion" and "1, 0, 0, 0"), ended by an empty path.
// "\VarFileInfo\Translation" lists the language and code-page pairs as eight hex digits
// each, separated by blanks.
namespace VersionInfo {

constexpr const char* kSectionName = ".vs_version";

using Values = std::map<std::string, std::string>;

// The version block of an ELF program file; false when it has none or cannot be read.
bool readBlock(const std::string& programPath, std::string& block);
Values parseBlock(const std::string& block);
// The value by the lookup rules: US English with code page 1252, then with Unicode, then
// the listed translations; leading white space stripped. Empty when not found.
std::string findValue(const Values& values, const std::string& name);

}  // namespace VersionInfo

// The named version value of a program file; empty when it has none.
std::string loadVersionString(const std::string& programPath, const std::string& name);
