#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BuildInfo.h"
#include "apps/VantorSyncCtl/CtlArguments.h"
#include "apps/VantorSyncCtl/CtlTransfer.h"
#include "backup/BackupVerify.h"
#include "com/VantorSyncProxy.h"
#include "config/ListenAddresses.h"
#include "config/Settings.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

namespace {

using Action = CtlArguments::Action;

int reportUnreachable(ManagementBus::BusKind bus, const std::string& detail) {
    const char* name = ManagementBus::busKindName(bus);
    std::fprintf(stderr,
                 "VantorSyncCtl: VantorSyncSvc is not reachable on the %s bus (%s).\n"
                 "Start it as a service with \"sudo systemctl start VantorSyncSvc\" (installed "
                 "with \"sudo VantorSyncSvc -Service\"),\n"
                 "or run it by hand with \"VANTORSYNC_BUS=%s VantorSyncSvc -Foreground\".\n",
                 name, detail.c_str(), name);
    return 1;
}

int reportNotPermitted(ManagementBus::BusKind bus) {
    std::fprintf(stderr,
                 "VantorSyncCtl: you are not allowed to manage VantorSyncSvc on the %s bus.\n"
                 "Only %s may; run the command with sudo or as one of them.\n",
                 ManagementBus::busKindName(bus), ManagementBus::kWhoMayManage);
    return 1;
}

int reportFailure(const std::string& message) {
    std::fprintf(stderr, "VantorSyncCtl: %s\n", message.c_str());
    return 1;
}

int32_t readLittleEndian32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return static_cast<int32_t>(value);
}

// A setting changed from here travels inside the configuration text, as the console's
// settings do: read the text, change the one value, and put the whole text back for the
// service to check; the rest passes through unchanged.
bool readServiceConfig(VantorSyncProxy& service, Settings& settings) {
    const std::vector<uint8_t> bytes = service.Config();
    std::string why;
    if (!settings.applyText(std::string(bytes.begin(), bytes.end()), Settings::Check::Complete,
                            Settings::ListReading::Replace, why)) {
        reportFailure("the service's configuration cannot be read: " + why);
        return false;
    }
    return true;
}

void putServiceConfig(VantorSyncProxy& service, Settings& settings, const SettingsData& values) {
    settings.setValues(values);
    const std::string text = settings.configText();
    service.Config(std::vector<uint8_t>(text.begin(), text.end()));
}

int trustedProxies(const CtlArguments& arguments, VantorSyncProxy& service) {
    Settings settings;
    if (!readServiceConfig(service, settings))
        return 1;
    SettingsData values = settings.getValues();
    if (arguments.action == Action::ProxiesSet) {
        std::string joined;
        for (const std::string& proxy : arguments.proxies)
            joined += proxy + " ";
        values.trustedProxies = TrustedProxies::normalised(joined);
        putServiceConfig(service, settings, values);
    }
    std::printf("%s\n", values.trustedProxies.c_str());
    return 0;
}

int performListen(const CtlArguments& arguments, VantorSyncProxy& service) {
    Settings settings;
    if (!readServiceConfig(service, settings))
        return 1;
    SettingsData values = settings.getValues();
    if (arguments.action == Action::ListenShow) {
        std::printf("%s\n", values.listenAddresses.c_str());
        return 0;
    }
    std::vector<std::string> addresses;
    std::string why;
    if (!ListenAddresses::parse(arguments.listen, addresses, why))
        return reportFailure(why);
    values.listenAddresses = ListenAddresses::join(addresses);
    putServiceConfig(service, settings, values);
    std::printf("listen addresses: %s (used from the sync server's next start)\n",
                values.listenAddresses.c_str());
    return 0;
}

// The service resolves paths itself, from its own working folder: send absolute ones.
std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char here[4096];
    if (::getcwd(here, sizeof here) == nullptr)
        return path;
    return std::string(here) + "/" + path;
}

int reportProblems(const std::string& what, const std::vector<std::string>& problems) {
    for (const std::string& problem : problems)
        std::printf("%s\n", problem.c_str());
    if (problems.empty())
        std::printf("%s: sound\n", what.c_str());
    return problems.empty() ? 0 : 1;
}

// Backups and restores of large stores take longer than the bus's default of 25 s.
constexpr auto kLongCallTimeout = std::chrono::hours(2);

template <typename Result>
Result callLong(VantorSyncProxy& service, const char* method, const std::string& folder) {
    Result result;
    service.proxy()
        .callMethod(method)
        .onInterface(com::mailvane::IVantorSync_proxy::INTERFACE_NAME)
        .withTimeout(kLongCallTimeout)
        .withArguments(folder)
        .storeResultsTo(result);
    return result;
}

int perform(const CtlArguments& arguments, VantorSyncProxy& service) {
    switch (arguments.action) {
        case Action::Status:
            std::printf("%s\n", service.Enabled() != 0 ? "running" : "stopped");
            return 0;
        case Action::Start:
            service.Enabled(1);
            std::printf("started\n");
            return 0;
        case Action::Stop:
            service.Enabled(0);
            std::printf("stopped\n");
            return 0;
        case Action::Stats: {
            std::vector<uint8_t> bytes = service.Statistics();
            if (bytes.size() != 8) {
                return reportFailure("the service sent " + std::to_string(bytes.size()) +
                                     " bytes of statistics instead of 8");
            }
            std::printf("whitelist: %d\ntraining database: %d\n", readLittleEndian32(bytes, 0),
                        readLittleEndian32(bytes, 4));
            return 0;
        }
        case Action::ConfigGet: {
            std::vector<uint8_t> bytes = service.Config();
            if (arguments.file.empty() || arguments.file == "-") {
                if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
                    std::fflush(stdout) != 0) {
                    return reportFailure("could not write the configuration to standard output");
                }
                return 0;
            }
            std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            if (!replaceFileContents(arguments.file, text)) {
                return reportFailure("could not write " + arguments.file);
            }
            return 0;
        }
        case Action::ConfigPut: {
            std::string text;
            if (!FileSystem::readFile(arguments.file, text)) {
                return reportFailure("could not read " + arguments.file);
            }
            service.Config(std::vector<uint8_t>(text.begin(), text.end()));
            return 0;
        }
        case Action::ClearWhitelist:
            service.ClearWhitelist();
            std::printf("common whitelist cleared\n");
            return 0;
        case Action::ClearTrainingDb:
            service.ClearTrainingDB();
            std::printf("common training database cleared\n");
            return 0;
        case Action::Folder:
            std::printf("%s\n", service.ConfigFolder().c_str());
            return 0;
        case Action::ProxiesGet:
        case Action::ProxiesSet:
            return trustedProxies(arguments, service);
        case Action::Export:
            return runExport(arguments.file, service);
        case Action::Import:
            return runImport(arguments.file, service);
        case Action::Backup:
            std::printf("%s\n",
                        callLong<std::string>(service, "Backup", absolute(arguments.file)).c_str());
            return 0;
        case Action::Restore:
            std::printf(
                "%s\n",
                callLong<std::string>(service, "Restore", absolute(arguments.file)).c_str());
            return 0;
        case Action::Verify:
            return reportProblems("live data folder",
                                  callLong<std::vector<std::string>>(service, "Verify", ""));
        case Action::ListenShow:
        case Action::ListenSet:
            return performListen(arguments, service);
        case Action::Help:
        case Action::Version:
            break;
    }
    std::printf("%s", kCtlUsage);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CtlArguments arguments = parseCtlArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!arguments.error.empty()) {
        std::fprintf(stderr, "VantorSyncCtl: %s\n%s", arguments.error.c_str(), kCtlUsage);
        return 2;
    }
    if (arguments.action == Action::Help) {
        std::printf("%s", kCtlUsage);
        return 0;
    }
    // A backup is checked without the service, so that one can be checked anywhere.
    if (arguments.action == Action::Verify && !arguments.file.empty()) {
        std::string folder = arguments.file;
        if (folder.back() != '/')
            folder += '/';
        return reportProblems(arguments.file, BackupVerify::checkBackup(folder));
    }
    if (arguments.action == Action::Version) {
        std::printf("VantorSyncCtl %s\n", BuildInfo::kVersion);
        return 0;
    }

    std::unique_ptr<sdbus::IConnection> connection;
    try {
        connection = ManagementBus::connect(arguments.bus);
    } catch (const std::exception& error) {
        return reportUnreachable(arguments.bus, error.what());
    }
    try {
        VantorSyncProxy service(*connection);
        return perform(arguments, service);
    } catch (const sdbus::Error& error) {
        switch (ManagementBus::classifyError(error.getName())) {
            case ManagementBus::CallFailure::Unreachable:
                return reportUnreachable(arguments.bus, error.getMessage());
            case ManagementBus::CallFailure::NotPermitted:
                return reportNotPermitted(arguments.bus);
            case ManagementBus::CallFailure::Other:
                break;
        }
        if (error.getName() == ManagementBus::kFailedError)
            return reportFailure(error.getMessage());
        return reportFailure(error.getMessage() + " (" + error.getName() + ")");
    } catch (const std::exception& error) {
        return reportFailure(error.what());
    }
}
