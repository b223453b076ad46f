#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ByteStream.h"
#include "config/Settings.h"
#include "platform/FileSystem.h"
#include "tests/config/EnvironmentValue.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/XmlCheck.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string textOf(const MemoryByteStream& stream) {
    return std::string(stream.bytes().begin(), stream.bytes().end());
}

class ConfigTransfer : public ::testing::Test {
  protected:
    void SetUp() override { service.setDataFolder(folder.folder()); }
    std::string configPath() const { return folder.file("config.xml"); }

    TempFolder folder;
    Settings service;
};

}  // namespace

TEST(MemoryStream, ReadWriteSeekAndLimit) {
    MemoryByteStream stream(8);
    EXPECT_TRUE(stream.write("abc", 3));
    EXPECT_TRUE(stream.seek(5));
    EXPECT_TRUE(stream.write("de", 2));
    EXPECT_EQ(textOf(stream), std::string("abc\0\0de", 7));
    EXPECT_FALSE(stream.write("xyz", 3));  // would pass the limit
    EXPECT_EQ(stream.size(), 7u);
    EXPECT_FALSE(stream.setSize(9));
    EXPECT_TRUE(stream.setSize(2));
    EXPECT_TRUE(stream.seek(0));
    char buffer[8];
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 2u);
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 0u);
}

TEST_F(ConfigTransfer, ExportCopiesExactFileBytes) {
    // Any bytes at all, not only what saveFile writes.
    std::string bytes = "<config>\n<port>1</port>\0 odd bytes \xff";
    bytes += std::string(9000, 'q');  // more than one copy piece
    writeBytes(configPath(), bytes);
    MemoryByteStream stream;
    stream.write("old content that is longer than nothing", 39);
    ASSERT_TRUE(service.exportConfig(stream));
    EXPECT_EQ(textOf(stream), bytes);
    EXPECT_EQ(stream.position(), bytes.size());
}

TEST_F(ConfigTransfer, ExportFailsWithoutFileOrRoom) {
    MemoryByteStream stream;
    EXPECT_FALSE(service.exportConfig(stream));
    writeBytes(configPath(), std::string(100, 'x'));
    MemoryByteStream small(50);
    EXPECT_FALSE(service.exportConfig(small));
    Settings console;
    EXPECT_FALSE(console.exportConfig(stream));
}

TEST_F(ConfigTransfer, ImportReplacesFileAndDefinesWholeAccessList) {
    service.setAccessList({{"removed", {true, true}}, {"changed", {true, true}}});
    SettingsData values;
    values.logFileLifetime = 30;
    service.setValues(values);
    std::string text =
        "<config><port>9000</port><access_list>"
        "<acl host=\"changed\" enabled_get=\"1\"/><acl host=\"new\" enabled_post=\"1\"/>"
        "</access_list></config>";
    MemoryByteStream stream(bytesOf(text));
    stream.seek(stream.size());  // the import reads from the start whatever the position
    ASSERT_TRUE(service.importConfig(stream));
    EXPECT_EQ(readBytes(configPath()), text);
    EXPECT_EQ(service.getAccessList(),
              (AccessList{{"changed", {true, false}}, {"new", {false, true}}}));
    EXPECT_EQ(service.getValues().port, 9000);
    EXPECT_EQ(service.getValues().logFileLifetime, 30);  // scalars still merge
}

// A text the running service is given, by a put or in the file it reads again, is applied
// whole or not at all: whatever came before the fault must not stay applied.
TEST_F(ConfigTransfer, RefusedTextChangesNothingAndSaysWhy) {
    const struct {
        const char* text;
        const char* why;
    } cases[] = {
        {"<config>\r\n<default_acl enabled_post=\"0\"/>\r\n<port>9000</port><log_enab",
         "line 3: not well-formed"},
        {"<config><port>9000</port>\n<acl host=\"half\"/></wrong>", "line 2: End tag 'wrong'"},
        {"<config><default_acl enabled_post=\"0\"/><port>9000</port>", "<config> is never closed"},
        {"<config><port>0</port></config>", "port \"0\" is outside 1-65535"},
        {"<config><port>65536</port></config>", "port \"65536\" is outside 1-65535"},
        {"<config><port>-5</port></config>", "port \"-5\" is outside 1-65535"},
        {"<config><port>abc</port></config>", "port \"abc\" is outside 1-65535"},
        {"<config><listen_addresses>127.1</listen_addresses></config>",
         "listen address \"127.1\" is not a numeric IPv4 or IPv6 address"},
        {"<config><listen_addresses>::1, localhost</listen_addresses></config>",
         "\"localhost\" is not a numeric"},
        {"<config><listen_addresses>fd00::1 fd00:0::1</listen_addresses></config>",
         "\"fd00:0::1\" is listed twice"},
        {"<config><listen_addresses> </listen_addresses></config>", "no listen address"},
        {" \r\n", "empty"},
    };
    const AccessList list{{"kept", {true, false}}};
    for (const auto& refused : cases) {
        service.setAccessList(list);
        writeBytes(configPath(), refused.text);
        std::string why;
        EXPECT_FALSE(service.reloadFile(configPath(), why));
        EXPECT_NE(why.find(refused.why), std::string::npos) << refused.text << ": " << why;

        writeBytes(configPath(), "before");
        MemoryByteStream stream(bytesOf(refused.text));
        std::string refusal;
        EXPECT_FALSE(service.importConfig(stream, refusal));
        EXPECT_EQ(refusal, why);
        EXPECT_EQ(readBytes(configPath()), "before");
        EXPECT_EQ(service.getValues(), SettingsData{});
        EXPECT_EQ(service.getAccessList(), list);
    }
    for (int port : {1, 65535}) {
        std::string text = "<config><port>" + std::to_string(port) + "</port></config>";
        MemoryByteStream stream(bytesOf(text));
        std::string refusal;
        EXPECT_TRUE(service.importConfig(stream, refusal)) << refusal;
        EXPECT_EQ(service.getValues().port, port);
    }
    for (const char* addresses : {"0.0.0.0, ::", "127.0.0.1,::1", "fd00::1 10.0.0.1"}) {
        std::string text =
            std::string("<config><listen_addresses>") + addresses + "</listen_addresses></config>";
        MemoryByteStream stream(bytesOf(text));
        std::string refusal;
        EXPECT_TRUE(service.importConfig(stream, refusal)) << refusal;
        EXPECT_EQ(service.getValues().listenAddresses, addresses);
    }
}

TEST_F(ConfigTransfer, ExportAfterImportGivesSameBytes) {
    Settings source;
    source.setAccessList({{"a&b", {true, false}}});
    std::string text = source.configText();
    MemoryByteStream in(bytesOf(text));
    ASSERT_TRUE(service.importConfig(in));
    MemoryByteStream out;
    ASSERT_TRUE(service.exportConfig(out));
    EXPECT_EQ(textOf(out), text);
    EXPECT_EQ(service.getAccessList(), source.getAccessList());
}

TEST_F(ConfigTransfer, ConsoleStreamRoundTripLeavesNoTemporaryFile) {
    TempFolder temporary;
    EnvironmentValue useTemporary("TMPDIR", temporary.path());
    Settings console;
    SettingsData values;
    values.port = 4242;
    console.setValues(values);
    console.setAccessList({{"pc\"1", {false, true}}});
    MemoryByteStream stream;
    bool saved = console.saveToStream(stream);
    Settings other;
    bool loaded = other.loadFromStream(stream);
    MemoryByteStream tooSmall(10);
    bool savedSmall = console.saveToStream(tooSmall);

    ASSERT_TRUE(saved);
    EXPECT_EQ(textOf(stream), console.configText());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(other.getValues(), console.getValues());
    EXPECT_EQ(other.getAccessList(), console.getAccessList());
    EXPECT_FALSE(savedSmall);
    EXPECT_TRUE(FileSystem::listFolder(temporary.path()).empty());
}

TEST_F(ConfigTransfer, ImportRefusesNewHostNamesThatAreNotTextButKeepsHeldOnes) {
    service.setAccessList({{"held\xff", {true, false}}});
    writeBytes(configPath(), "before");
    for (const char* name : {"new\x01", "new\xfe", "new\tname"}) {
        Settings source;
        source.setAccessList({{"held\xff", {true, false}}, {name, {true, true}}});
        MemoryByteStream stream(bytesOf(source.configText()));
        std::string refusal;
        EXPECT_FALSE(service.importConfig(stream, refusal));
        EXPECT_NE(refusal.find("UTF-8 text without control characters"), std::string::npos);
        EXPECT_NE(refusal.find("new\\x"), std::string::npos) << refusal;
        EXPECT_EQ(readBytes(configPath()), "before");
        EXPECT_EQ(service.getAccessList(), (AccessList{{"held\xff", {true, false}}}));
    }
    // The same name raw in a host attribute is refused as well.
    std::string raw = "<config><acl host=\"r\x02\" enabled_get=\"1\"/></config>";
    MemoryByteStream rawStream(bytesOf(raw));
    std::string refusal;
    EXPECT_FALSE(service.importConfig(rawStream, refusal));
    EXPECT_FALSE(refusal.empty());

    // A held name comes back through the console unchanged and is accepted.
    Settings console;
    console.setAccessList({{"held\xff", {false, true}}, {"ok", {true, true}}});
    MemoryByteStream stream(bytesOf(console.configText()));
    ASSERT_TRUE(service.importConfig(stream, refusal)) << refusal;
    EXPECT_TRUE(refusal.empty());
    EXPECT_EQ(service.getAccessList(), console.getAccessList());
    EXPECT_EQ(independentXmlVerdict(configPath()), "ok");
}

TEST_F(ConfigTransfer, AddressEntriesTravelAsOrdinaryEntriesAndDecideAfterImport) {
    Settings console;
    console.setAccessList({{"10.1.0.0/16", {true, false}}, {"FD00::/8", {false, true}}});
    const std::string text = console.configText();
    EXPECT_NE(text.find("\t\t<acl host=\"10.1.0.0/16\" enabled_get=\"1\" enabled_post=\"0\"/>"),
              std::string::npos);
    EXPECT_NE(text.find("<acl host=\"FD00::/8\""), std::string::npos);

    std::string name = "ws1";
    EXPECT_EQ(service.rightsForClient("10.9.0.1", &name), (AccessRights{true, true}));
    MemoryByteStream stream(bytesOf(text));
    std::string refusal;
    ASSERT_TRUE(service.importConfig(stream, refusal)) << refusal;
    EXPECT_EQ(service.getAccessList(), console.getAccessList());
    // The loaded entries take over the decision from the very next request.
    EXPECT_EQ(service.rightsForClient("10.9.0.1", &name), (AccessRights{}));
    EXPECT_EQ(service.rightsForClient("10.1.0.1", &name), (AccessRights{true, false}));
    EXPECT_EQ(service.rightsForClient("fd01::1", &name), (AccessRights{false, true}));
    EXPECT_EQ(independentXmlVerdict(configPath()), "ok");
}

TEST_F(ConfigTransfer, ImportRefusesNewMalformedAddressEntriesButKeepsHeldOnes) {
    service.setAccessList({{"10.1.0.0/33", {true, true}}});
    writeBytes(configPath(), "before");
    for (const char* key : {"10.2.0.0/33", "fd00::/200", "10.1.2.3/16", "300.1.1.1"}) {
        Settings source;
        source.setAccessList({{"10.1.0.0/33", {true, true}}, {key, {true, true}}});
        MemoryByteStream stream(bytesOf(source.configText()));
        std::string refusal;
        EXPECT_FALSE(service.importConfig(stream, refusal)) << key;
        EXPECT_NE(refusal.find(std::string("\"") + key + "\" is not a valid address entry"),
                  std::string::npos)
            << refusal;
        EXPECT_EQ(readBytes(configPath()), "before");
        EXPECT_EQ(service.getAccessList(), (AccessList{{"10.1.0.0/33", {true, true}}}));
    }
    Settings console;
    console.setAccessList({{"10.1.0.0/33", {false, true}}, {"10.1.0.0/16", {true, true}}});
    MemoryByteStream stream(bytesOf(console.configText()));
    std::string refusal;
    ASSERT_TRUE(service.importConfig(stream, refusal)) << refusal;
    EXPECT_EQ(service.getAccessList(), console.getAccessList());
}
