#include "apps/VantorSyncSvc/ModuleCommand.h"

#include <gtest/gtest.h>

TEST(ModuleCommandTest, SwitchWordsAreFoundAfterDashOrSlashInAnyCase) {
    EXPECT_EQ(chooseModuleCommand("-RegServer"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("/regserver"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("-UNREGSERVER"), ModuleCommand::UnregServer);
    EXPECT_EQ(chooseModuleCommand("/Service"), ModuleCommand::Service);
    EXPECT_EQ(chooseModuleCommand("-foreground"), ModuleCommand::Foreground);
    EXPECT_EQ(chooseModuleCommand(""), ModuleCommand::Start);
    EXPECT_EQ(chooseModuleCommand("RegServer Service"), ModuleCommand::Start);
}

TEST(ModuleCommandTest, WordEndsOnlyAtBlankTabOrEnd) {
    EXPECT_EQ(chooseModuleCommand("-RegServerX"), ModuleCommand::Start);
    EXPECT_EQ(chooseModuleCommand("-RegServer trailing words"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("-RegServer\tmore"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("-Reg Server"), ModuleCommand::Start);
    // Every '-' or '/' starts a candidate, also inside a longer word.
    EXPECT_EQ(chooseModuleCommand("x/RegServer"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("--RegServer"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("-x-Service"), ModuleCommand::Service);
}

TEST(ModuleCommandTest, FirstOfUnregAndRegWinsAndServiceOnlyWithoutThem) {
    EXPECT_EQ(chooseModuleCommand("-UnregServer -RegServer"), ModuleCommand::UnregServer);
    EXPECT_EQ(chooseModuleCommand("/RegServer /UnregServer"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("-Service -RegServer"), ModuleCommand::RegServer);
    EXPECT_EQ(chooseModuleCommand("-Service -UnregServer"), ModuleCommand::UnregServer);
    EXPECT_EQ(chooseModuleCommand("-Foreground -Service"), ModuleCommand::Service);
    EXPECT_EQ(chooseModuleCommand("-Foreground -RegServer"), ModuleCommand::RegServer);
}

TEST(ModuleCommandTest, FirstSwitchOfReportsTheWordIndex) {
    EXPECT_EQ(firstSwitchOf("-b -a", {"a", "b"}), 1);
    EXPECT_EQ(firstSwitchOf("-c", {"a", "b"}), -1);
    EXPECT_EQ(firstSwitchOf("-", {"a"}), -1);
    EXPECT_EQ(firstSwitchOf("a-", {""}), 0);  // an empty word after a trailing dash
}

TEST(ModuleCommandTest, HelpAndVersionComeBeforeEveryOtherSwitch) {
    EXPECT_EQ(chooseModuleCommand("--help"), ModuleCommand::Help);
    EXPECT_EQ(chooseModuleCommand("-h"), ModuleCommand::Help);
    EXPECT_EQ(chooseModuleCommand("--version"), ModuleCommand::Version);
    EXPECT_EQ(chooseModuleCommand("-RegServer --help"), ModuleCommand::Help);
    EXPECT_EQ(chooseModuleCommand("-Service -Version"), ModuleCommand::Version);
    EXPECT_EQ(chooseModuleCommand("-helpme"), ModuleCommand::Start);
}
