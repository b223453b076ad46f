#include <gtest/gtest.h>

#include <string>

#include "config/HostNames.h"
#include "config/Settings.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/XmlCheck.h"

namespace {

const std::string kDefaultFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config>\r\n"
    "  <port>17080</port>\r\n"
    "  <common_whitelist_enabled>1</common_whitelist_enabled>\r\n"
    "  <common_whitelist_max_size>100000</common_whitelist_max_size>\r\n"
    "  <common_training_db_enabled>1</common_training_db_enabled>\r\n"
    "  <common_training_db_max_size>100000</common_training_db_max_size>\r\n"
    "  <log_enabled>1</log_enabled>\r\n"
    "  <log_file_lifetime>10</log_file_lifetime>\r\n"
    "  <default_acl enabled_get=\"1\" enabled_post=\"1\"/>\r\n"
    "  <access_list>\r\n"
    "  </access_list>\r\n"
    "</config>";

class SettingsFile : public ::testing::Test {
  protected:
    // Writes the text to a file and loads it into settings.
    bool load(const std::string& text) {
        std::string path = folder.file("in.xml");
        writeBytes(path, text);
        return settings.loadFile(path);
    }
    bool loadConfig(const std::string& body) { return load("<config>" + body + "</config>"); }

    TempFolder folder;
    Settings settings;
};

}  // namespace

TEST_F(SettingsFile, DefaultFileBytes) {
    std::string path = folder.file("config.xml");
    ASSERT_TRUE(settings.saveFile(path));
    std::string bytes = readBytes(path);
    EXPECT_EQ(bytes, kDefaultFile);
    EXPECT_EQ(bytes.find("  <port>"), 67u);  // the declaration block is 67 bytes
    EXPECT_EQ(bytes.back(), '>');
    EXPECT_EQ(settings.dataFolder(), "");
}

TEST_F(SettingsFile, EntriesWrittenInByteOrderWithTabs) {
    settings.setAccessList({{"alpha", {true, false}}, {"Zeta", {false, true}}, {"al", {}}});
    std::string text = settings.configText();
    const std::string list =
        "  <access_list>\r\n"
        "\t\t<acl host=\"Zeta\" enabled_get=\"0\" enabled_post=\"1\"/>\r\n"
        "\t\t<acl host=\"al\" enabled_get=\"0\" enabled_post=\"0\"/>\r\n"
        "\t\t<acl host=\"alpha\" enabled_get=\"1\" enabled_post=\"0\"/>\r\n"
        "  </access_list>\r\n</config>";
    EXPECT_EQ(text.substr(text.size() - list.size()), list);
}

TEST_F(SettingsFile, SaveAndLoadRoundTripAllValues) {
    SettingsData values;
    values.port = -5;
    values.commonWhitelistEnabled = false;
    values.commonWhitelistMaxSize = 3000000000u;  // written as a signed number
    values.commonTrainingDbEnabled = false;
    values.commonTrainingDbMaxSize = 0;
    values.logEnabled = false;
    values.logFileLifetime = 1;
    values.defaultAcl = {false, true};
    values.trustedProxies = "10.0.0.1 fd00::/8";
    values.listenAddresses = "127.0.0.1, ::1";
    settings.setValues(values);
    settings.setAccessList({{"h1", {true, true}}});
    std::string path = folder.file("config.xml");
    ASSERT_TRUE(settings.saveFile(path));
    EXPECT_NE(readBytes(path).find("<common_whitelist_max_size>-1294967296<"), std::string::npos);
    EXPECT_NE(readBytes(path).find("  <port>-5</port>\r\n  <listen_addresses>127.0.0.1, ::1<"),
              std::string::npos);

    Settings fresh;
    ASSERT_TRUE(fresh.loadFile(path));
    EXPECT_EQ(fresh.getValues(), values);
    EXPECT_EQ(fresh.getAccessList(), settings.getAccessList());
}

TEST_F(SettingsFile, HostNamesWithSpecialCharactersSurvive) {
    AccessList list{{"a\"b", {true, false}},
                    {"x&y", {false, true}},
                    {"<tag>", {true, true}},
                    {"&lt;&quot;", {true, false}},
                    {"q\"&<>'/= z", {false, false}}};
    settings.setAccessList(list);
    std::string path = folder.file("config.xml");
    ASSERT_TRUE(settings.saveFile(path));
    EXPECT_EQ(independentXmlVerdict(path), "ok");
    Settings fresh;
    ASSERT_TRUE(fresh.loadFile(path));
    EXPECT_EQ(fresh.getAccessList(), list);
}

TEST(HostNamesTest, OnlyXmlTextWithoutControlCharactersIsStorable) {
    for (const char* good :
         {"", "mail.example.com", "h\xc3\xa9te", "\xe2\x82\xac\xf0\x9f\x98\x80", "a b\"&<>"}) {
        EXPECT_TRUE(HostNames::isStorableAsText(good)) << good;
    }
    for (const char* bad : {"a\x01", "tab\there", "cr\r", "lf\n", "del\x7f", "lat\xe9", "cut\xc3",
                            "\xc0\xaf", "\xed\xa0\x80", "\xef\xbf\xbe", "\xf4\x90\x80\x80"}) {
        EXPECT_FALSE(HostNames::isStorableAsText(bad)) << HostNames::visible(bad);
    }
    EXPECT_FALSE(HostNames::isStorableAsText(std::string("nul\0", 4)));
    EXPECT_EQ(HostNames::visible("a\xff\"\\"), "\"a\\xff\\x22\\x5c\"");
    std::string bytes;
    EXPECT_TRUE(HostNames::fromHex(HostNames::toHex(std::string("\0\x01\xffZ", 4)), bytes));
    EXPECT_EQ(bytes, std::string("\0\x01\xffZ", 4));
    EXPECT_TRUE(HostNames::fromHex("4A6b", bytes));
    EXPECT_EQ(bytes, "Jk");
    EXPECT_FALSE(HostNames::fromHex("abc", bytes));
    EXPECT_FALSE(HostNames::fromHex("zz", bytes));
}

// A name held in memory that cannot be written as text (from an older file) keeps its
// entry and its exact bytes, and the file stays well-formed for any XML reader.
TEST_F(SettingsFile, HostNamesThatAreNotTextAreWrittenHexEncoded) {
    AccessList list{{"bad\xff", {true, false}},
                    {"ctl\x01x", {false, true}},
                    {"tab\there", {true, true}},
                    {"\xed\xa0\x80", {false, false}},
                    {"plain", {true, true}}};
    settings.setAccessList(list);
    std::string path = folder.file("config.xml");
    ASSERT_TRUE(settings.saveFile(path));
    EXPECT_EQ(independentXmlVerdict(path), "ok");
    const std::string text = readBytes(path);
    EXPECT_NE(text.find("<acl host_bytes=\"626164ff\" enabled_get=\"1\" enabled_post=\"0\"/>"),
              std::string::npos);
    EXPECT_NE(text.find("<acl host=\"plain\""), std::string::npos);
    Settings fresh;
    ASSERT_TRUE(fresh.loadFile(path));
    EXPECT_EQ(fresh.getAccessList(), list);

    // A plain host attribute wins over host_bytes; malformed hex adds nothing.
    writeBytes(path,
               "<config><acl host=\"h\" host_bytes=\"78\" enabled_get=\"1\"/>"
               "<acl host_bytes=\"7\"/><acl host_bytes=\"\"/></config>");
    Settings other;
    ASSERT_TRUE(other.loadFile(path));
    EXPECT_EQ(other.getAccessList(), (AccessList{{"h", {true, false}}}));
}

TEST_F(SettingsFile, LoadMergesIntoCurrentValues) {
    ASSERT_TRUE(load("<port>8080</port>"));
    SettingsData expected;
    expected.port = 8080;
    EXPECT_EQ(settings.getValues(), expected);
}

TEST_F(SettingsFile, NumberConversion) {
    struct Case {
        const char* text;
        int32_t port;
    } cases[] = {{" 90x", 90},
                 {"abc", 0},
                 {"-12", -12},
                 {"+7", 7},
                 {"\r\n\t 33 44", 33},
                 {"", 0},
                 {"- 5", 0},
                 {"0012", 12},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1}};
    for (const Case& c : cases) {
        ASSERT_TRUE(loadConfig(std::string("<port>") + c.text + "</port>")) << c.text;
        EXPECT_EQ(settings.getValues().port, c.port) << c.text;
    }
    ASSERT_TRUE(loadConfig("<common_whitelist_max_size>-1</common_whitelist_max_size>"));
    EXPECT_EQ(settings.getValues().commonWhitelistMaxSize, 4294967295u);
}

TEST_F(SettingsFile, BooleanConversion) {
    for (const char* text : {"1", "2", "-1", " 7 "}) {
        settings.setValues(SettingsData{});
        ASSERT_TRUE(loadConfig(std::string("<log_enabled>0</log_enabled><log_enabled>") + text +
                               "</log_enabled>"));
        EXPECT_TRUE(settings.getValues().logEnabled) << text;
    }
    for (const char* text : {"0", "yes", "true", ""}) {
        settings.setValues(SettingsData{});
        ASSERT_TRUE(loadConfig(std::string("<log_enabled>") + text + "</log_enabled>"));
        EXPECT_FALSE(settings.getValues().logEnabled) << text;
    }
}

TEST_F(SettingsFile, ElementsRecognisedAtAnyDepthLastWins) {
    ASSERT_TRUE(
        load("<other><deep><log_file_lifetime>3</log_file_lifetime></deep>"
             "<Port>1</Port><port>2</port><unknown x=\"1\">9</unknown><port>4</port></other>"));
    EXPECT_EQ(settings.getValues().port, 4);
    EXPECT_EQ(settings.getValues().logFileLifetime, 3);
}

TEST_F(SettingsFile, DefaultAclAttributesIndependently) {
    ASSERT_TRUE(loadConfig("<default_acl enabled_post=\"0\"/>"));
    EXPECT_EQ(settings.getValues().defaultAcl, (AccessRights{true, false}));
    ASSERT_TRUE(loadConfig("<default_acl enabled_get=\"0\" enabled_post=\"\"/>"));
    EXPECT_EQ(settings.getValues().defaultAcl, (AccessRights{false, false}));
    ASSERT_TRUE(loadConfig("<default_acl enabled_post=\"5\">ignored</default_acl>"));
    EXPECT_EQ(settings.getValues().defaultAcl, (AccessRights{false, true}));
}

TEST_F(SettingsFile, AclEntries) {
    ASSERT_TRUE(
        loadConfig("<acl host=\"only\"/>"
                   "<acl enabled_get=\"1\"/>"
                   "<acl host=\"\" enabled_get=\"1\"/>"
                   "<acl host=\"dup\" enabled_get=\"1\" enabled_post=\"1\"/>"
                   "<acl host=\"dup\" enabled_post=\"1\"/>"
                   "<acl host=\"first\" host=\"second\" enabled_get=\"1\"/>"));
    AccessList expected{{"only", {false, false}}, {"dup", {false, true}}, {"first", {true, false}}};
    EXPECT_EQ(settings.getAccessList(), expected);
}

TEST_F(SettingsFile, LoadNeverRemovesEntries) {
    ASSERT_TRUE(loadConfig("<acl host=\"kept\" enabled_get=\"1\"/>"));
    ASSERT_TRUE(loadConfig("<acl host=\"other\" enabled_post=\"1\"/>"));
    EXPECT_EQ(settings.getAccessList().size(), 2u);
}

TEST_F(SettingsFile, FailedLoadKeepsValuesReadBeforeTheError) {
    EXPECT_FALSE(load("<config><port>81</port><log_enabled>0</log_enable></config>"));
    EXPECT_EQ(settings.getValues().port, 81);
    EXPECT_TRUE(settings.getValues().logEnabled);
    EXPECT_TRUE(load("<config><port>82</port>"));  // unclosed root still loads
    EXPECT_EQ(settings.getValues().port, 82);
    EXPECT_FALSE(settings.loadFile(folder.file("missing.xml")));
    EXPECT_FALSE(settings.loadFile(""));
}

TEST_F(SettingsFile, EmptyElementDoesNotTakeEarlierText) {
    ASSERT_TRUE(loadConfig("<port>8080</port><log_file_lifetime></log_file_lifetime>"));
    EXPECT_EQ(settings.getValues().logFileLifetime, 0);
}

// Whatever a file holds there is written back as text that reads the same (and, when it
// names no address, is still refused).
TEST_F(SettingsFile, ListenAddressesAreKeptAsWellFormedText) {
    const std::pair<std::string, std::string> cases[] = {
        {"\r\n\t127.0.0.1,\r\n\t::1 ", "127.0.0.1,   ::1"},
        {"::1\x01\xc3\xa9&amp;<!---->", "::1????amp;"},
        {"", ""},
    };
    for (const auto& [text, kept] : cases) {
        ASSERT_TRUE(loadConfig("<listen_addresses>" + text + "</listen_addresses>"));
        EXPECT_EQ(settings.getValues().listenAddresses, kept);
        std::string path = folder.file("config.xml");
        ASSERT_TRUE(settings.saveFile(path));
        EXPECT_EQ(independentXmlVerdict(path), "ok");
        Settings fresh;
        ASSERT_TRUE(fresh.loadFile(path));
        EXPECT_EQ(fresh.getValues().listenAddresses, kept);
    }
}

TEST_F(SettingsFile, RightsForHostByExactName) {
    settings.setAccessList({{"Host", {true, false}}});
    SettingsData values;
    values.defaultAcl = {false, true};
    settings.setValues(values);
    EXPECT_EQ(settings.rightsForHost("Host"), (AccessRights{true, false}));
    EXPECT_EQ(settings.rightsForHost("host"), (AccessRights{false, true}));
    EXPECT_EQ(settings.rightsForHost("Host "), (AccessRights{false, true}));
    EXPECT_EQ(settings.rightsForHost(""), (AccessRights{false, true}));
}

TEST_F(SettingsFile, SaveReplacesExistingFileAndFailsInMissingFolder) {
    std::string path = folder.file("config.xml");
    writeBytes(path, std::string(10000, 'z'));
    ASSERT_TRUE(settings.saveFile(path));
    EXPECT_EQ(readBytes(path), kDefaultFile);
    EXPECT_FALSE(settings.saveFile(folder.file("no/such/config.xml")));
    EXPECT_FALSE(settings.saveFile(""));
}
