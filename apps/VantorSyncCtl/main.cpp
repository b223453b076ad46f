#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BuildInfo.h"
#include "apps/VantorSyncCtl/CtlArguments.h"
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

// The listen addresses go through the configuration model, as the console's settings
// dialog sends them: the rest of the text passes through unchanged.
int performListen(const CtlArguments& arguments, VantorSyncProxy& service) {
    std::vector<uint8_t> bytes = service.Config();
    Settings settings;
    std::string why;
    if (!settings.applyText(std::string(bytes.begin(), bytes.end()), Settings::Check::Complete,
                            Settings::ListReading::Replace, why)) {
        return reportFailure("the service's configuration cannot be read: " + why);
    }
    SettingsData values = settings.getValues();
    if (arguments.action == Action::ListenShow) {
        std::printf("%s\n", values.listenAddresses.c_str());
        return 0;
    }
    std::vector<std::string> addresses;
    if (!ListenAddresses::parse(arguments.listen, addresses, why))
        return reportFailure(why);
    values.listenAddresses = ListenAddresses::join(addresses);
    settings.setValues(values);
    const std::string text = settings.configText();
    service.Config(std::vector<uint8_t>(text.begin(), text.end()));
    std::printf("listen addresses: %s (used from the sync server's next start)\n",
                values.listenAddresses.c_str());
    return 0;
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
