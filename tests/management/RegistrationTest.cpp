#include "apps/VantorSyncSvc/Registration.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "tests/support/TempFolder.h"

namespace {

const std::string kProgram = "/opt/vantorsync/bin/VantorSyncSvc";

const char* const kServiceActivation =
    "[D-BUS Service]\n"
    "Name=com.mailvane.VantorSyncSvc\n"
    "Exec=/opt/vantorsync/bin/VantorSyncSvc\n"
    "User=vantorsync\n"
    "SystemdService=VantorSyncSvc.service\n";

const char* const kLocalServerActivation =
    "[D-BUS Service]\n"
    "Name=com.mailvane.VantorSyncSvc\n"
    "Exec=/opt/vantorsync/bin/VantorSyncSvc\n"
    "User=vantorsync\n";

std::string contentOf(const std::string& path) {
    std::string content;
    return FileSystem::readFile(path, content) ? content : "<missing>";
}

// Records what it is asked and answers as told.
class FakeServiceManager : public ServiceManager {
  public:
    Result run(const std::vector<std::string>& arguments) override {
        std::string line;
        for (const std::string& word : arguments)
            line += (line.empty() ? "" : " ") + word;
        commands.push_back(line);
        auto answer = answers.find(arguments[0]);
        return answer != answers.end() ? answer->second : Result::Done;
    }
    std::vector<std::string> commands;
    std::map<std::string, Result> answers;
};

}  // namespace

TEST(RegistrationTest, ServiceWritesAllThreeFilesWithExactContent) {
    TempFolder root;
    Registration registration(root.path(), kProgram, nullptr);
    ASSERT_TRUE(registration.registerService());
    EXPECT_TRUE(registration.errors().empty());

    EXPECT_EQ(contentOf(root.file(Registration::kActivationFile)), kServiceActivation);
    std::string unit = contentOf(root.file(Registration::kUnitFile));
    EXPECT_EQ(unit, unitFileText(kProgram));
    for (const char* line :
         {"\nExecStart=/opt/vantorsync/bin/VantorSyncSvc\n", "\nUser=vantorsync\n",
          "\nGroup=vantorsync\n", "\nType=notify\n", "\nRestart=on-failure\n",
          "\nStateDirectory=VantorSyncSvc\n", "\nUMask=0077\n", "\nWantedBy=multi-user.target\n"}) {
        EXPECT_NE(unit.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(unit.find("@PROGRAM@"), std::string::npos);
    EXPECT_EQ(contentOf(root.file(Registration::kSysusersFile)),
              "# The account the synchronization service runs as; its home is the data folder.\n"
              "u vantorsync - \"Mailvane synchronization service\" /var/lib/VantorSyncSvc\n");
    std::string policy = contentOf(root.file(Registration::kPolicyFile));
    EXPECT_EQ(policy, policyFileText());
    EXPECT_NE(
        policy.find("<policy user=\"root\">\n    <allow own=\"com.mailvane.VantorSyncSvc\"/>"),
        std::string::npos);
    for (const char* who : {"at_console=\"true\"", "group=\"sudo\"", "group=\"adm\""}) {
        EXPECT_NE(policy.find(std::string("<policy ") + who +
                              ">\n    <allow send_destination=\"com.mailvane.VantorSyncSvc\"/>"),
                  std::string::npos)
            << who;
    }
    // Nobody but the service's account and root may own the name.
    EXPECT_NE(policy.find(
                  "<policy user=\"vantorsync\">\n    <allow own=\"com.mailvane.VantorSyncSvc\"/>"),
              std::string::npos);
    size_t owners = 0;
    for (size_t at = policy.find("allow own"); at != std::string::npos;
         at = policy.find("allow own", at + 1)) {
        ++owners;
    }
    EXPECT_EQ(owners, 2u);
    EXPECT_NE(policy.find("<deny own=\"com.mailvane.VantorSyncSvc\"/>"), std::string::npos);

    struct stat info;
    ASSERT_EQ(::stat(root.file(Registration::kPolicyFile).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);  // the bus daemon reads it as another user
    EXPECT_EQ(readRegisteredMode(root.path()), RegisteredMode::Service);
}

TEST(RegistrationTest, RegServerAfterServiceDropsTheUnitAndTheSystemdLine) {
    TempFolder root;
    Registration registration(root.folder(), kProgram, nullptr);
    ASSERT_TRUE(registration.registerService());
    ASSERT_TRUE(registration.registerLocalServer());

    EXPECT_EQ(contentOf(root.file(Registration::kActivationFile)), kLocalServerActivation);
    EXPECT_FALSE(FileSystem::fileExists(root.file(Registration::kUnitFile)));
    EXPECT_EQ(contentOf(root.file(Registration::kPolicyFile)), policyFileText());
    EXPECT_EQ(readRegisteredMode(root.path()), RegisteredMode::LocalServer);
}

TEST(RegistrationTest, UnregServerRemovesEverythingAndIsHarmlessWhenNothingIsThere) {
    TempFolder root;
    Registration registration(root.path(), kProgram, nullptr);
    EXPECT_TRUE(registration.unregister());
    ASSERT_TRUE(registration.registerService());
    ASSERT_TRUE(registration.unregister());
    for (const char* file : {Registration::kActivationFile, Registration::kPolicyFile,
                             Registration::kUnitFile, Registration::kSysusersFile}) {
        EXPECT_FALSE(FileSystem::fileExists(root.file(file))) << file;
    }
    EXPECT_EQ(readRegisteredMode(root.path()), RegisteredMode::NotRegistered);
}

TEST(RegistrationTest, SwitchesLeaveAPackagedInstallAloneAndSayToUseThePackage) {
    TempFolder root;
    FakeServiceManager manager;
    Registration registration(root.path(), kProgram, &manager);
    ASSERT_TRUE(registration.registerService());
    const std::string activation = contentOf(root.file(Registration::kActivationFile));
    registration.setPackageOwner([&root](const std::string& path) {
        return path == root.file(Registration::kPolicyFile) ? "vantorsync-server" : "";
    });
    manager.commands.clear();

    const std::pair<const char*, bool (Registration::*)()> switches[] = {
        {"-UnregServer", &Registration::unregister},
        {"-Service", &Registration::registerService},
        {"-RegServer", &Registration::registerLocalServer},
    };
    for (const auto& [name, perform] : switches) {
        EXPECT_FALSE((registration.*perform)()) << name;
        ASSERT_EQ(registration.errors().size(), 1u) << name;
        const std::string& error = registration.errors()[0];
        EXPECT_NE(error.find(std::string(name) + " leaves the registration to it"),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find("apt remove vantorsync-server"), std::string::npos) << error;
    }
    EXPECT_TRUE(manager.commands.empty());
    EXPECT_EQ(contentOf(root.file(Registration::kActivationFile)), activation);
    for (const char* file :
         {Registration::kPolicyFile, Registration::kUnitFile, Registration::kSysusersFile}) {
        EXPECT_TRUE(FileSystem::fileExists(root.file(file))) << file;
    }
}

TEST(RegistrationTest, ServiceManagerIsToldInOrderAndReinstallStopsFirst) {
    TempFolder root;
    FakeServiceManager manager;
    Registration registration(root.path(), kProgram, &manager);
    ASSERT_TRUE(registration.registerService());
    EXPECT_EQ(manager.commands,
              (std::vector<std::string>{"daemon-reload", "enable VantorSyncSvc.service"}));

    manager.commands.clear();
    ASSERT_TRUE(registration.registerService());
    EXPECT_EQ(manager.commands,
              (std::vector<std::string>{"stop VantorSyncSvc.service",
                                        "disable VantorSyncSvc.service", "daemon-reload",
                                        "daemon-reload", "enable VantorSyncSvc.service"}));

    manager.commands.clear();
    ASSERT_TRUE(registration.unregister());
    EXPECT_EQ(manager.commands,
              (std::vector<std::string>{"stop VantorSyncSvc.service",
                                        "disable VantorSyncSvc.service", "daemon-reload"}));
}

TEST(RegistrationTest, FailingStopIsReportedButTheServiceIsStillRemoved) {
    TempFolder root;
    FakeServiceManager manager;
    Registration registration(root.path(), kProgram, &manager);
    ASSERT_TRUE(registration.registerService());
    manager.answers["stop"] = ServiceManager::Result::Failed;

    EXPECT_FALSE(registration.unregister());
    EXPECT_EQ(registration.errors(), std::vector<std::string>{"Could not stop service"});
    EXPECT_FALSE(FileSystem::fileExists(root.file(Registration::kUnitFile)));
    // The failed step leaves the policy in place, so the name stays protected.
    EXPECT_TRUE(FileSystem::fileExists(root.file(Registration::kPolicyFile)));
}

TEST(RegistrationTest, ServiceManagerFailuresGiveTheirTexts) {
    TempFolder root;
    FakeServiceManager manager;
    Registration registration(root.path(), kProgram, &manager);
    ASSERT_TRUE(registration.registerService());

    manager.answers["stop"] = ServiceManager::Result::Unreachable;
    EXPECT_FALSE(registration.registerLocalServer());
    EXPECT_EQ(registration.errors(), std::vector<std::string>{"Could not open Service Manager"});
    EXPECT_TRUE(FileSystem::fileExists(root.file(Registration::kUnitFile)));

    manager.answers.erase("stop");
    manager.answers["disable"] = ServiceManager::Result::Failed;
    EXPECT_FALSE(registration.unregister());
    EXPECT_EQ(registration.errors(), std::vector<std::string>{"Could not delete service"});
    EXPECT_TRUE(FileSystem::fileExists(root.file(Registration::kUnitFile)));
}

TEST(RegistrationTest, UnwritableRootFailsWithAReadableLine) {
    TempFolder root;
    // A plain file where a folder must go fails for every user, root included.
    ASSERT_TRUE(replaceFileContents(root.file("usr"), "not a folder"));
    Registration registration(root.path(), kProgram, nullptr);
    EXPECT_FALSE(registration.registerLocalServer());
    ASSERT_EQ(registration.errors().size(), 1u);
    EXPECT_EQ(registration.errors()[0].rfind("Could not write " + root.path(), 0), 0u)
        << registration.errors()[0];
}

TEST(RegistrationTest, ProgramPathsThatWouldNeedQuotingAreRefused) {
    TempFolder root;
    for (const std::string& path :
         {std::string("relative/VantorSyncSvc"), std::string("/opt/my dir/VantorSyncSvc"),
          std::string("/opt/100%/VantorSyncSvc"), std::string(""),
          std::string("/opt/a\"b/VantorSyncSvc")}) {
        Registration registration(root.path(), path, nullptr);
        EXPECT_FALSE(registration.registerService()) << path;
        EXPECT_EQ(registration.errors().size(), 1u);
    }
    EXPECT_FALSE(FileSystem::fileExists(root.file(Registration::kActivationFile)));
}

TEST(RegistrationTest, RegisteredModeReadsOnlyLinesThatStartWithTheKey) {
    TempFolder root;
    std::string path = root.file(Registration::kActivationFile);
    ASSERT_TRUE(FileSystem::createFolders(root.file("usr/share/dbus-1/system-services")));
    ASSERT_TRUE(replaceFileContents(path, "[D-BUS Service]\n# SystemdService=x\n"));
    EXPECT_EQ(readRegisteredMode(root.path()), RegisteredMode::LocalServer);
    ASSERT_TRUE(replaceFileContents(path, "[D-BUS Service]\nSystemdService=x"));
    EXPECT_EQ(readRegisteredMode(root.path()), RegisteredMode::Service);
}

TEST(RegistrationTest, SystemRootIsOnlyTheRealRoot) {
    EXPECT_TRUE(isSystemRoot("/"));
    EXPECT_TRUE(isSystemRoot("//"));
    EXPECT_FALSE(isSystemRoot(""));
    EXPECT_FALSE(isSystemRoot("/tmp/root"));
}

TEST(RegistrationTest, AccountIsCreatedBeforeThePolicyNamesItAndItsFailureStopsThere) {
    TempFolder root;
    Registration registration(root.path(), kProgram, nullptr);
    std::vector<std::string> seen;
    registration.setAccountStep([&](const std::string& sysusersFile, std::string& error) {
        seen.push_back(sysusersFile);
        EXPECT_TRUE(FileSystem::fileExists(sysusersFile));
        EXPECT_FALSE(FileSystem::fileExists(root.file(Registration::kPolicyFile)));
        error = "no account";
        return seen.size() > 1;
    });
    EXPECT_FALSE(registration.registerLocalServer());
    EXPECT_EQ(registration.errors(), std::vector<std::string>{"no account"});
    EXPECT_FALSE(FileSystem::fileExists(root.file(Registration::kActivationFile)));

    std::remove(root.file(Registration::kSysusersFile).c_str());
    EXPECT_TRUE(registration.registerService());
    EXPECT_EQ(seen, (std::vector<std::string>(2, root.file(Registration::kSysusersFile))));
}

// The package installs files made from the same templates at build time; they must be
// exactly what the registration writes for the installed program.
TEST(RegistrationTest, PackagedFilesAreWhatTheRegistrationWritesForTheInstalledProgram) {
    const std::string packaged = VS_PACKAGED_DIR;
    const std::string program = VS_PACKAGED_PROGRAM;  // /usr/sbin/VantorSyncSvc in the package
    EXPECT_EQ(contentOf(packaged + "/VantorSyncSvc.service"), unitFileText(program));
    EXPECT_EQ(contentOf(packaged + "/com.mailvane.VantorSyncSvc.service"),
              activationFileText(program, true));
    EXPECT_EQ(contentOf(packaged + "/com.mailvane.VantorSyncSvc.conf"), policyFileText());
    EXPECT_EQ(contentOf(packaged + "/vantorsync.conf"), sysusersFileText());
}
