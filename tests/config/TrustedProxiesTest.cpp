// The trusted_proxies setting: what a configuration may name as a proxy, and which peers
// that then trusts.
#include <gtest/gtest.h>

#include <string>

#include "config/Settings.h"

namespace {

std::string configWith(const std::string& proxies) {
    return "<config><port>17080</port><trusted_proxies>" + proxies + "</trusted_proxies></config>";
}

TEST(TrustedProxiesTest, AddressesAndPrefixesTrustTheirPeersOnly) {
    Settings settings;
    std::string why;
    ASSERT_TRUE(settings.applyText(configWith(" 10.0.0.1,\t192.168.0.0/16\r\n fd00::/8 "),
                                   Settings::Check::Usable, Settings::ListReading::Replace, why))
        << why;
    EXPECT_EQ(settings.getValues().trustedProxies, "10.0.0.1 192.168.0.0/16 fd00::/8");
    const struct {
        const char* peer;
        bool trusted;
    } table[] = {
        {"10.0.0.1", true}, {"10.0.0.2", false}, {"192.168.4.5", true}, {"::ffff:10.0.0.1", true},
        {"fd00::7", true},  {"fe80::1", false},  {"", false},           {"not an address", false}};
    for (const auto& row : table)
        EXPECT_EQ(row.trusted, settings.isTrustedProxy(row.peer)) << row.peer;
}

TEST(TrustedProxiesTest, ANameOrMalformedPrefixIsRefusedByAPutAndTrustsNobodyFromAFile) {
    for (const std::string bad : {"proxy.example", "10.0.0.1 10.0.0.0/33", "fe80::1%eth0"}) {
        SCOPED_TRACE(bad);
        Settings settings;
        std::string why;
        EXPECT_FALSE(settings.applyText(configWith(bad), Settings::Check::Usable,
                                        Settings::ListReading::Replace, why));
        EXPECT_NE(why.find("trusted proxy"), std::string::npos) << why;
        EXPECT_EQ(settings.getValues().trustedProxies, "");

        // Read from a file at start: kept and reported; the malformed item trusts nobody.
        ASSERT_TRUE(settings.applyText(configWith(bad), Settings::Check::Parsed,
                                       Settings::ListReading::Merge, why));
        EXPECT_EQ(settings.malformedTrustedProxies().size(), 1u);
        EXPECT_FALSE(settings.isTrustedProxy("10.0.0.2"));
        EXPECT_FALSE(settings.isTrustedProxy("fe80::1"));
    }
}

}  // namespace
