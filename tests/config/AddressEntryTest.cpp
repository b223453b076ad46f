#include "config/AddressEntry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Kind = AddressEntry::Kind;

AddressEntry entryOf(const std::string& key) {
    AddressEntry entry;
    EXPECT_EQ(AddressEntry::classify(key, &entry), Kind::Address) << key;
    return entry;
}

bool matches(const std::string& key, const std::string& peer) {
    AddressEntry::Bytes address;
    EXPECT_TRUE(AddressEntry::parsePeer(peer, address)) << peer;
    return entryOf(key).matches(address);
}

std::string reasonFor(const std::string& key) {
    std::string reason;
    EXPECT_EQ(AddressEntry::classify(key, nullptr, &reason), Kind::Malformed) << key;
    return reason;
}

TEST(AddressEntry, NamesStayNames) {
    for (const char* key : {"ws1", "mail.example.com", "1234", "cafe", "beef.dead", "host/share",
                            "my host", "", "10.1.0.0.example.com", "a:b:zz"})
        EXPECT_EQ(AddressEntry::classify(key), Kind::Name) << key;
}

TEST(AddressEntry, AddressesAndPrefixesOfBothFamilies) {
    for (const char* key :
         {"10.1.2.3", "10.1.0.0/16", "0.0.0.0/0", "127.0.0.1/32", "::1", "fd00::/8", "FD00::/8",
          "::/0", "2001:db8::/32", "::ffff:10.1.0.0/112", "10.0.0.0/08"})
        EXPECT_EQ(AddressEntry::classify(key), Kind::Address) << key;
    EXPECT_EQ(entryOf("10.1.0.0/16").prefixLength(), 96 + 16);
    EXPECT_EQ(entryOf("10.1.2.3").prefixLength(), 128);
    EXPECT_EQ(entryOf("fd00::/8").prefixLength(), 8);
    EXPECT_TRUE(entryOf("10.1.0.0/16").sameNetwork(entryOf("::ffff:10.1.0.0/112")));
    EXPECT_TRUE(entryOf("fd00::/8").sameNetwork(entryOf("FD00::/8")));
    EXPECT_FALSE(entryOf("10.1.0.0/16").sameNetwork(entryOf("10.1.0.0/17")));
}

TEST(AddressEntry, AddressLookingMistakesAreRefusedWithAReason) {
    EXPECT_NE(reasonFor("10.1.0.0/33").find("0 to 32"), std::string::npos);
    EXPECT_NE(reasonFor("fd00::/129").find("0 to 128"), std::string::npos);
    EXPECT_NE(reasonFor("10.1.0.0/").find("prefix length"), std::string::npos);
    EXPECT_NE(reasonFor("10.1.0.0/x").find("prefix length"), std::string::npos);
    EXPECT_NE(reasonFor("10.1.0.0/-1").find("prefix length"), std::string::npos);
    EXPECT_NE(reasonFor("10.1.0.0/1024").find("prefix length"), std::string::npos);
    EXPECT_NE(reasonFor("256.1.1.1").find("not an IPv4 address"), std::string::npos);
    EXPECT_NE(reasonFor("10.1.2").find("not an IPv4 address"), std::string::npos);
    EXPECT_NE(reasonFor("10/8").find("not an IPv4 address"), std::string::npos);
    EXPECT_NE(reasonFor("010.1.2.3").find("not an IPv4 address"), std::string::npos);
    EXPECT_NE(reasonFor("fd00:::1").find("not an IPv6 address"), std::string::npos);
    EXPECT_NE(reasonFor("cafe:1").find("not an IPv6 address"), std::string::npos);
    EXPECT_NE(reasonFor("fe80::1%eth0").find("zone"), std::string::npos);
    EXPECT_NE(reasonFor(" 10.1.2.3").find("blanks"), std::string::npos);
    EXPECT_NE(reasonFor("10.1.2.3 ").find("blanks"), std::string::npos);
    // Bits beyond the prefix: the user is told the network the prefix stands for.
    EXPECT_NE(reasonFor("10.1.2.3/16").find("10.1.0.0/16"), std::string::npos);
    EXPECT_NE(reasonFor("fd12:3456::/8").find("fd00::/8"), std::string::npos);
}

TEST(AddressEntry, IPv4PrefixesMatchTheirNetworkOnly) {
    EXPECT_TRUE(matches("10.1.0.0/16", "10.1.255.7"));
    EXPECT_FALSE(matches("10.1.0.0/16", "10.2.0.1"));
    EXPECT_TRUE(matches("10.1.2.128/25", "10.1.2.200"));
    EXPECT_FALSE(matches("10.1.2.128/25", "10.1.2.127"));
    EXPECT_TRUE(matches("127.0.0.1", "127.0.0.1"));
    EXPECT_FALSE(matches("127.0.0.1", "127.0.0.2"));
    EXPECT_TRUE(matches("0.0.0.0/0", "203.0.113.9"));
    EXPECT_FALSE(matches("0.0.0.0/0", "::1"));
}

TEST(AddressEntry, IPv6PrefixesAndMappedPeers) {
    EXPECT_TRUE(matches("fd00::/8", "fd12:3456::1"));
    EXPECT_FALSE(matches("fd00::/8", "fe80::1"));
    EXPECT_TRUE(matches("2001:db8::/33", "2001:db8:7fff::1"));
    EXPECT_FALSE(matches("2001:db8::/33", "2001:db8:8000::1"));
    EXPECT_TRUE(matches("::1", "::1"));
    EXPECT_FALSE(matches("::1", "127.0.0.1"));
    // A dual-stack socket reports an IPv4 client in its mapped form.
    EXPECT_TRUE(matches("10.1.0.0/16", "::ffff:10.1.9.9"));
    EXPECT_TRUE(matches("127.0.0.1", "::FFFF:127.0.0.1"));
    EXPECT_FALSE(matches("10.1.0.0/16", "::ffff:10.2.0.1"));
    EXPECT_TRUE(matches("::ffff:10.1.0.0/112", "10.1.3.4"));
    EXPECT_TRUE(matches("::/0", "192.0.2.1"));
}

TEST(AddressEntry, PeerTextMustBeAnAddress) {
    AddressEntry::Bytes address;
    for (const char* peer : {"", "unknown_ip", "10.1.0.0/16", "fe80::1%eth0", "10.1.2"})
        EXPECT_FALSE(AddressEntry::parsePeer(peer, address)) << peer;
}

}  // namespace
