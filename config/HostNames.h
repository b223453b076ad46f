#pragma once

#include <string>

// config.xml declares UTF-8, so a host name can stand in its "host" attribute only when it
// is well-formed UTF-8 made of characters that XML allows; control characters are refused
// as well, since an XML reader would turn tab and line ends in an attribute into blanks.
// Names that fail this (kept from older files) travel hex-encoded in "host_bytes" instead,
// so the file stays well-formed and the bytes come back unchanged.
namespace HostNames {

// True when the name may be written as attribute text (the empty name passes).
bool isStorableAsText(const std::string& name);

// Lower-case hex digits, two per byte.
std::string toHex(const std::string& bytes);
// The bytes of an even-length run of hex digits (either case); false for anything else.
bool fromHex(const std::string& hex, std::string& bytes);

// The name in printable ASCII: other bytes as \xHH, so it can go into any message.
std::string visible(const std::string& name);

// One line for the user saying why a name is refused.
constexpr const char* kRefusal = "A host name must be UTF-8 text without control characters";

}  // namespace HostNames
