#include "config/AccessPolicy.h"

#include <gtest/gtest.h>

#include <string>

#include "config/Settings.h"

namespace {

const AccessRights kNone{false, false};
const AccessRights kGet{true, false};
const AccessRights kPost{false, true};
const AccessRights kBoth{true, true};

// The rights a request gets through the Settings object, as the service asks for them.
class AccessDecision : public ::testing::Test {
  protected:
    AccessRights rights(const std::string& peer, const char* host) {
        std::string name = host != nullptr ? host : "";
        return settings.rightsForClient(peer, host != nullptr ? &name : nullptr);
    }
    void defaults(AccessRights rights) {
        SettingsData values = settings.getValues();
        values.defaultAcl = rights;
        settings.setValues(values);
    }

    Settings settings;
};

TEST_F(AccessDecision, WithoutAddressEntriesTheDeclaredNameDecidesAsBefore) {
    settings.setAccessList({{"ws1", kPost}, {"Host", kGet}});
    defaults(kGet);
    EXPECT_EQ(rights("10.9.9.9", "ws1"), kPost);
    EXPECT_EQ(rights("127.0.0.1", "Host"), kGet);
    EXPECT_EQ(rights("127.0.0.1", "WS1"), kGet);  // exact match only: default rights
    EXPECT_EQ(rights("", "other"), kGet);         // the peer plays no part
    EXPECT_EQ(rights("127.0.0.1", nullptr), kNone);
    defaults(kBoth);
    EXPECT_EQ(rights("127.0.0.1", nullptr), kNone);
    EXPECT_EQ(rights("127.0.0.1", "anyone"), kBoth);
}

TEST_F(AccessDecision, AnUnlistedPeerGetsNothingWhateverItsName) {
    settings.setAccessList({{"10.1.0.0/16", kBoth}, {"ws1", kBoth}});
    defaults(kBoth);
    EXPECT_EQ(rights("10.2.0.1", "ws1"), kNone);
    EXPECT_EQ(rights("10.2.0.1", "anyone"), kNone);
    EXPECT_EQ(rights("10.2.0.1", "10.1.0.0/16"), kNone);  // naming the entry does not help
    EXPECT_EQ(rights("::1", "ws1"), kNone);
    EXPECT_EQ(rights("", "ws1"), kNone);
    EXPECT_EQ(rights("unknown_ip", "ws1"), kNone);
}

TEST_F(AccessDecision, TheMostSpecificAddressEntryDecides) {
    settings.setAccessList({{"10.0.0.0/8", kGet},
                            {"10.1.0.0/16", kBoth},
                            {"10.1.2.3", kNone},
                            {"fd00::/8", kGet},
                            {"fd00:1::/32", kPost}});
    defaults(kNone);  // default rights restrict nobody once addresses decide
    EXPECT_EQ(rights("10.9.0.1", "x"), kGet);
    EXPECT_EQ(rights("10.1.7.7", "x"), kBoth);
    EXPECT_EQ(rights("10.1.2.3", "x"), kNone);
    EXPECT_EQ(rights("::ffff:10.1.7.7", "x"), kBoth);
    EXPECT_EQ(rights("fd00:2::1", "x"), kGet);
    EXPECT_EQ(rights("fd00:1::9", "x"), kPost);
    // A matching peer without any "User-Host" still has the rights of its address.
    EXPECT_EQ(rights("10.1.7.7", nullptr), kBoth);
}

TEST_F(AccessDecision, ANameEntryOnlyNarrowsTheRightsOfTheAddress) {
    settings.setAccessList({{"127.0.0.0/8", kGet},
                            {"pusher", kBoth},
                            {"reader", kPost},
                            {"::1", kBoth},
                            {"v6reader", kGet}});
    defaults(kNone);
    EXPECT_EQ(rights("127.0.0.1", "pusher"), kGet);   // the name cannot add post
    EXPECT_EQ(rights("127.0.0.1", "reader"), kNone);  // get from the address, post from the name
    EXPECT_EQ(rights("127.0.0.1", "unlisted"), kGet);
    EXPECT_EQ(rights("::1", "v6reader"), kGet);
    EXPECT_EQ(rights("::1", "unlisted"), kBoth);
    // An address entry's text sent as a name is not a name entry.
    EXPECT_EQ(rights("127.0.0.1", "::1"), kGet);
}

TEST_F(AccessDecision, TheSameNetworkWrittenTwiceKeepsOnlyWhatBothAllow) {
    settings.setAccessList({{"10.1.0.0/16", kBoth}, {"::ffff:10.1.0.0/112", kGet}});
    EXPECT_EQ(rights("10.1.0.5", "x"), kGet);
}

TEST_F(AccessDecision, AMalformedAddressEntryMatchesNobodyButKeepsAddressesInCharge) {
    settings.setAccessList({{"10.1.0.0/33", kBoth}, {"ws1", kBoth}});
    defaults(kBoth);
    EXPECT_EQ(rights("10.1.0.1", "ws1"), kNone);
    EXPECT_EQ(rights("10.1.0.1", "10.1.0.0/33"), kNone);
    ASSERT_EQ(settings.malformedAddressEntries().size(), 1u);
    EXPECT_NE(settings.malformedAddressEntries()[0].find("\"10.1.0.0/33\""), std::string::npos);
}

TEST_F(AccessDecision, ChangingTheListTakesEffectAtOnce) {
    settings.setAccessList({{"ws1", kBoth}});
    EXPECT_EQ(rights("10.5.5.5", "ws1"), kBoth);
    settings.setAccessList({{"ws1", kBoth}, {"127.0.0.1", kGet}});
    EXPECT_EQ(rights("10.5.5.5", "ws1"), kNone);
    EXPECT_EQ(rights("127.0.0.1", "ws1"), kGet);
    settings.setAccessList({{"ws1", kPost}});
    EXPECT_EQ(rights("10.5.5.5", "ws1"), kPost);
}

}  // namespace
