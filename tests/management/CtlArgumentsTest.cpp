#include "apps/VantorSyncCtl/CtlArguments.h"

#include <stdlib.h>

#include <gtest/gtest.h>

using Action = CtlArguments::Action;
using ManagementBus::BusKind;

namespace {

CtlArguments parse(std::vector<std::string> words) {
    return parseCtlArguments(words);
}

// Sets or clears $VANTORSYNC_BUS for one test.
class BusVariable {
  public:
    explicit BusVariable(const char* value) {
        if (value) {
            setenv("VANTORSYNC_BUS", value, 1);
        } else {
            unsetenv("VANTORSYNC_BUS");
        }
    }
    ~BusVariable() { unsetenv("VANTORSYNC_BUS"); }
};

}  // namespace

TEST(CtlArgumentsTest, CommandsAndTheirFiles) {
    BusVariable unset(nullptr);
    EXPECT_EQ(parse({"status"}).action, Action::Status);
    EXPECT_EQ(parse({"clear-training-db"}).action, Action::ClearTrainingDb);
    CtlArguments get = parse({"config", "get"});
    EXPECT_EQ(get.action, Action::ConfigGet);
    EXPECT_EQ(get.file, "");
    CtlArguments put = parse({"config", "put", "/tmp/c.xml"});
    EXPECT_EQ(put.action, Action::ConfigPut);
    EXPECT_EQ(put.file, "/tmp/c.xml");
    EXPECT_EQ(put.bus, BusKind::System);
    EXPECT_EQ(parse({"trusted-proxies"}).action, Action::ProxiesGet);
    CtlArguments proxies = parse({"trusted-proxies", "set", "10.0.0.1", "fd00::/8"});
    EXPECT_EQ(proxies.action, Action::ProxiesSet);
    EXPECT_EQ(proxies.proxies, (std::vector<std::string>{"10.0.0.1", "fd00::/8"}));
    EXPECT_EQ(parse({"export", "-"}).action, Action::Export);
    EXPECT_EQ(parse({"import", "/tmp/x.jsonl"}).file, "/tmp/x.jsonl");
    EXPECT_EQ(parse({"listen"}).action, Action::ListenShow);
    CtlArguments listen = parse({"listen", "127.0.0.1", "::1"});
    EXPECT_EQ(listen.action, Action::ListenSet);
    EXPECT_EQ(listen.listen, "127.0.0.1,::1");
    EXPECT_EQ(parse({"status", "--help"}).action, Action::Help);
    EXPECT_EQ(parse({"--version", "status"}).action, Action::Version);
    const struct {
        std::vector<std::string> words;
        Action action;
        std::string folder;
    } folderCommands[] = {{{"backup", "/b/1"}, Action::Backup, "/b/1"},
                          {{"verify"}, Action::Verify, ""},
                          {{"verify", "b"}, Action::Verify, "b"},
                          {{"restore", "/b/1"}, Action::Restore, "/b/1"}};
    for (const auto& c : folderCommands) {
        CtlArguments parsed = parse(c.words);
        EXPECT_EQ(parsed.action, c.action) << c.words[0];
        EXPECT_EQ(parsed.file, c.folder) << c.words[0];
    }
}

TEST(CtlArgumentsTest, BusFromOptionOverridesEnvironment) {
    BusVariable session("session");
    EXPECT_EQ(parse({"stats"}).bus, BusKind::Session);
    EXPECT_EQ(parse({"--bus", "system", "stats"}).bus, BusKind::System);
    EXPECT_EQ(parse({"stats", "--bus=system"}).bus, BusKind::System);
}

TEST(CtlArgumentsTest, NonsenseIsAUsageError) {
    BusVariable unset(nullptr);
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"status", "extra"},
                                               {"config"},
                                               {"config", "put"},
                                               {"config", "get", "a", "b"},
                                               {"trusted-proxies", "add", "10.0.0.1"},
                                               {"export"},
                                               {"import", "a", "b"},
                                               {"backup"},
                                               {"restore"},
                                               {"verify", "a", "b"},
                                               {"--bus"},
                                               {"--bus", "none", "status"},
                                               {"--bus", "tcp", "status"},
                                               {"--verbose", "status"}}) {
        EXPECT_FALSE(parse(words).error.empty()) << testing::PrintToString(words);
    }
    BusVariable bad("carrier-pigeon");
    EXPECT_FALSE(parse({"status"}).error.empty());
}
