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
    EXPECT_EQ(parse({"listen"}).action, Action::ListenShow);
    CtlArguments listen = parse({"listen", "127.0.0.1", "::1"});
    EXPECT_EQ(listen.action, Action::ListenSet);
    EXPECT_EQ(listen.listen, "127.0.0.1,::1");
    EXPECT_EQ(parse({"status", "--help"}).action, Action::Help);
    EXPECT_EQ(parse({"--version", "status"}).action, Action::Version);
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
                                               {"--bus"},
                                               {"--bus", "none", "status"},
                                               {"--bus", "tcp", "status"},
                                               {"--verbose", "status"}}) {
        EXPECT_FALSE(parse(words).error.empty()) << testing::PrintToString(words);
    }
    BusVariable bad("carrier-pigeon");
    EXPECT_FALSE(parse({"status"}).error.empty());
}
