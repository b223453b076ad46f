#include "apps/VantorSyncSvc/ServiceMetrics.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "BuildInfo.h"
#include "apps/VantorSyncSvc/SyncService.h"
#include "metrics/MetricsText.h"

namespace {

Metrics::StoreSizes sampleStores() {
    SyncService& service = SyncService::instance();
    Metrics::StoreSizes sizes;
    sizes.whitelistKeys = service.whitelistKeyCount();
    sizes.whitelistHistory = static_cast<uint64_t>(std::max(service.whitelistCount(), 0));
    sizes.trainingDbHistory = static_cast<uint64_t>(std::max(service.trainingDbCount(), 0));
    sizes.trainingDbDescriptors = service.trainingDbDescriptorCount();
    const std::string folder = service.dataFolder();
    for (const char* file : {CommonWhitelist::kKeysFileName, CommonWhitelist::kHistoryFileName,
                             CommonTrainingDb::kDataFileName, CommonTrainingDb::kOptionsFileName}) {
        struct stat info;
        if (::stat((folder + file).c_str(), &info) == 0 && S_ISREG(info.st_mode))
            sizes.fileBytes.emplace_back(file, static_cast<uint64_t>(info.st_size));
    }
    return sizes;
}

std::string renderNow() {
    BuildLabels build{BuildInfo::kVersion, BuildInfo::kBuildType, BuildInfo::kCompiler};
    return renderMetrics(Metrics::instance().snapshot(), build);
}

}  // namespace

ServiceMetrics::ServiceMetrics() : server_(renderNow) {}

std::string ServiceMetrics::requestedAddress(const std::string& commandLine) {
    static const char kSwitch[] = "metrics=";
    for (size_t i = 0; i < commandLine.size(); ++i) {
        if ((commandLine[i] == '-' || commandLine[i] == '/') &&
            strncasecmp(commandLine.c_str() + i + 1, kSwitch, sizeof kSwitch - 1) == 0) {
            size_t start = i + sizeof kSwitch;
            size_t end = commandLine.find_first_of(" \t", start);
            return commandLine.substr(start, end == std::string::npos ? end : end - start);
        }
    }
    const char* value = std::getenv(kEnvironmentVariable);
    return value != nullptr ? value : "";
}

bool ServiceMetrics::start(const std::string& address, std::string& error) {
    Metrics::instance().setStoreSampler(sampleStores);
    return server_.start(address, error);
}

void ServiceMetrics::stop() {
    server_.stop();
    Metrics::instance().setStoreSampler(nullptr);
}
