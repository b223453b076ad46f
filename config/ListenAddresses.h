#pragma once

#include <string>
#include <vector>

// Where the sync server listens: one or more numeric IPv4 or IPv6 addresses, all on the
// configured port. The text separates them by commas or white space ("127.0.0.1, ::1").
// "0.0.0.0" is every IPv4 interface and "::" every IPv6 one; an IPv6 socket never takes
// IPv4 connections as well, so a dual-stack server lists both. Host names are not taken:
// the server must not listen somewhere else because a name resolved differently.
namespace ListenAddresses {

// The config.xml element; a file without it listens where every earlier version did.
constexpr const char* kElement = "listen_addresses";
constexpr const char* kDefault = "0.0.0.0";

// The addresses of a text, in its order. False with `why` (one line naming the first
// offending item) when an item is not a numeric address, one is listed twice, or there is
// none. An IPv6 address may carry a zone ("fe80::1%eth0"), which is checked when bound.
bool parse(const std::string& text, std::vector<std::string>& addresses, std::string& why);
// The text as the settings hold it: without blanks around it, other line breaks and tabs
// as blanks (they separate either way), and any other byte that cannot be part of an
// address, markup ("<", ">", "&") included, as "?", so that whatever a file held is written
// back unescaped as well-formed text that reads the same and is still refused.
std::string tidy(const std::string& text);
// The addresses as the text the settings hold and show.
std::string join(const std::vector<std::string>& addresses);

}  // namespace ListenAddresses
