#include <gtest/gtest.h>
#include <filesystem>
#include <optional>
#include <string>

#include "config/Settings.h"
#include "config/SystemDataFolder.h"
#include "platform/FileSystem.h"
#include "tests/config/EnvironmentValue.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"

namespace {

class DataFolderChoice : public ::testing::Test {
  protected:
    std::string home() const { return root.file("home"); }
    std::string configBase() const { return root.file("cfg"); }
    std::string dataBase() const { return root.file("data"); }
    // A regular file where a folder would have to be makes that candidate unusable,
    // even for root, who writes through any permission bits.
    void block(const std::string& path) { writeBytes(path, "not a folder"); }

    TempFolder root;
    EnvironmentValue home_{"HOME", root.file("home")};
    EnvironmentValue config_{"XDG_CONFIG_HOME", root.file("cfg")};
    EnvironmentValue data_{"XDG_DATA_HOME", root.file("data")};
};

}  // namespace

TEST_F(DataFolderChoice, FirstCandidateCreatedWithItsParent) {
    std::string chosen = Settings::selectDataFolder();
    EXPECT_EQ(chosen, configBase() + "/VantorSyncSvc/");
    EXPECT_TRUE(FileSystem::folderExists(chosen));
    EXPECT_FALSE(FileSystem::fileExists(chosen + "check.txt"));
}

TEST_F(DataFolderChoice, SkipsCandidateBlockedByFile) {
    FileSystem::createFolders(configBase());
    block(configBase() + "/VantorSyncSvc");
    EXPECT_EQ(Settings::selectDataFolder(), dataBase() + "/VantorSyncSvc/");
}

TEST_F(DataFolderChoice, FallsBackToDocuments) {
    block(configBase());
    block(dataBase());
    EXPECT_EQ(Settings::selectDataFolder(), home() + "/Documents/VantorSyncSvc/");
}

TEST_F(DataFolderChoice, NoUsableCandidateGivesLastFormedPath) {
    block(configBase());
    block(dataBase());
    block(home());
    EXPECT_EQ(Settings::selectDataFolder(), home() + "/Documents/VantorSyncSvc/");
}

TEST_F(DataFolderChoice, DefaultsBelowHome) {
    EnvironmentValue noConfig("XDG_CONFIG_HOME", std::nullopt);
    EnvironmentValue emptyData("XDG_DATA_HOME", "");
    EXPECT_EQ(Settings::selectDataFolder(), home() + "/.config/VantorSyncSvc/");
    block(home() + "/.config/VantorSyncSvc/check.txt.dir");  // unrelated file does no harm
    block(home() + "/.config/VantorSyncSvc/check.txt");      // overwritten by the probe
    EXPECT_EQ(Settings::selectDataFolder(), home() + "/.config/VantorSyncSvc/");
    EXPECT_FALSE(FileSystem::fileExists(home() + "/.config/VantorSyncSvc/check.txt"));
}

TEST_F(DataFolderChoice, NothingDeterminedGivesEmptyPath) {
    EnvironmentValue noHome("HOME", std::nullopt);
    EnvironmentValue noConfig("XDG_CONFIG_HOME", std::nullopt);
    EnvironmentValue noData("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(Settings::selectDataFolder(), "");
}

TEST_F(DataFolderChoice, ServiceSettingsChooseTheFolder) {
    Settings service(Settings::Owner::Service);
    EXPECT_EQ(service.dataFolder(), configBase() + "/VantorSyncSvc/");
    EXPECT_EQ(service.configPath(), configBase() + "/VantorSyncSvc/config.xml");
    Settings console;
    EXPECT_EQ(console.dataFolder(), "");
}

TEST(DataFolderProbe, FailsForMissingFolder) {
    TempFolder root;
    EXPECT_TRUE(Settings::probeFolderWritable(root.folder()));
    EXPECT_FALSE(Settings::probeFolderWritable(root.file("missing") + "/"));
    EXPECT_TRUE(FileSystem::listFolder(root.path()).empty());
}

TEST_F(DataFolderChoice, RelativeValuesAreIgnored) {
    EnvironmentValue relativeConfig("XDG_CONFIG_HOME", "cfg");
    EnvironmentValue relativeData("XDG_DATA_HOME", "./data");
    EXPECT_EQ(Settings::selectDataFolder(), home() + "/.config/VantorSyncSvc/");
    EnvironmentValue relativeHome("HOME", "home");
    EXPECT_EQ(Settings::selectDataFolder(), "");
}

TEST(SystemDataFolderTest, EmptyOrRelativeFolderIsRefusedOrReplacedBySystemFolder) {
    TempFolder root;
    const std::string system = root.file("lib") + "/VantorSyncSvc/";
    std::string error;

    std::string absolute = root.folder();
    EXPECT_TRUE(SystemDataFolder::resolve(absolute, false, error, system));
    EXPECT_EQ(absolute, root.folder());

    for (const char* unusable : {"", "VantorSyncSvc/"}) {
        std::string folder = unusable;
        EXPECT_FALSE(SystemDataFolder::resolve(folder, false, error, system)) << unusable;
        EXPECT_EQ(folder, unusable);
        EXPECT_NE(error.find("HOME"), std::string::npos) << error;
        EXPECT_FALSE(FileSystem::folderExists(system));

        EXPECT_TRUE(SystemDataFolder::resolve(folder, true, error, system)) << error;
        EXPECT_EQ(folder, system);
        EXPECT_TRUE(FileSystem::folderExists(system));
        std::filesystem::remove_all(root.file("lib"));
    }

    writeBytes(root.file("lib"), "a file where the folder's parent should be");
    std::string folder;
    EXPECT_FALSE(SystemDataFolder::resolve(folder, true, error, system));
    EXPECT_NE(error.find(system), std::string::npos) << error;

    // An absolute folder that could not be created is refused too, not served from.
    for (bool systemAccount : {false, true}) {
        std::string missing = system;
        EXPECT_FALSE(SystemDataFolder::resolve(missing, systemAccount, error, system));
        EXPECT_NE(error.find(system + " cannot be created or written"), std::string::npos) << error;
    }
}
