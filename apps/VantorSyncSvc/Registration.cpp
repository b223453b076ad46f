#include "apps/VantorSyncSvc/Registration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "com/RegistrationTemplates.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

namespace {

constexpr const char* kProgramMarker = "@PROGRAM@";
constexpr const char* kSystemdLineMarker = "@SYSTEMD_SERVICE_LINE@\n";

std::string replaceAll(std::string text, const std::string& marker, const std::string& with) {
    for (size_t at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + with.size())) {
        text.replace(at, marker.size(), with);
    }
    return text;
}

std::string withFinalSlash(std::string root) {
    if (root.empty() || root.back() != '/')
        root += '/';
    return root;
}

// Both the unit's ExecStart= and the activation file's Exec= give quotes, blanks,
// backslashes, '%' and '$' meanings of their own; such paths are refused rather
// than escaped two different ways.
bool needsNoQuoting(const std::string& path) {
    for (unsigned char c : path) {
        if (c <= ' ' || c == 0x7f || std::strchr("\"'\\%$;", c) != nullptr)
            return false;
    }
    return true;
}

std::string errorText() {
    return errno != 0 ? std::strerror(errno) : "unknown error";
}

}  // namespace

std::string activationFileText(const std::string& programPath, bool startedBySystemd) {
    std::string text = replaceAll(kActivationFileTemplate, kProgramMarker, programPath);
    return replaceAll(text, kSystemdLineMarker,
                      startedBySystemd
                          ? std::string("SystemdService=") + Registration::kUnitName + "\n"
                          : std::string());
}

std::string policyFileText() {
    return kPolicyFileTemplate;
}

std::string unitFileText(const std::string& programPath) {
    return replaceAll(kUnitFileTemplate, kProgramMarker, programPath);
}

std::string sysusersFileText() {
    return kSysusersFileTemplate;
}

Registration::Registration(std::string root, std::string programPath, ServiceManager* manager)
    : root_(withFinalSlash(std::move(root))),
      programPath_(std::move(programPath)),
      manager_(manager) {}

bool Registration::registerService() {
    errors_.clear();
    return !refuseIfPackaged("-Service") && writeBusFiles(true) && installService();
}

bool Registration::registerLocalServer() {
    errors_.clear();
    return !refuseIfPackaged("-RegServer") && writeBusFiles(false);
}

bool Registration::refuseIfPackaged(const char* switchName) {
    if (!packageOwner_)
        return false;
    for (const std::string& path :
         {activationPath(), policyPath(), root_ + kPackagedUnitFile, unitPath()}) {
        std::string package = packageOwner_(path);
        if (package.empty())
            continue;
        errors_.push_back(std::string("VantorSyncSvc was installed by the package ") + package +
                          " (it owns " + path + "), so " + switchName +
                          " leaves the registration to it and changes nothing. Manage the "
                          "service with \"systemctl enable|disable|start|stop VantorSyncSvc\", "
                          "and remove it with \"apt remove " +
                          package + "\".");
        return true;
    }
    return false;
}

bool Registration::writeBusFiles(bool serviceMode) {
    // Any installed service goes first, so a local server never runs beside it.
    return checkProgramPath() && uninstallService() && writeAccount() &&
           writeFile(policyPath(), policyFileText()) &&
           writeFile(activationPath(), activationFileText(programPath_, serviceMode));
}

bool Registration::writeAccount() {
    if (!writeFile(sysusersPath(), sysusersFileText()))
        return false;
    std::string error;
    if (accountStep_ && !accountStep_(sysusersPath(), error)) {
        errors_.push_back(error);
        return false;
    }
    return true;
}

bool Registration::unregister() {
    errors_.clear();
    if (refuseIfPackaged("-UnregServer"))
        return false;
    if (!removeFileIfPresent(activationPath()))
        return false;
    if (!uninstallService())
        return false;
    return removeFileIfPresent(policyPath()) && removeFileIfPresent(sysusersPath());
}

bool Registration::checkProgramPath() {
    if (!programPath_.empty() && programPath_[0] == '/' && needsNoQuoting(programPath_)) {
        return true;
    }
    errors_.push_back(
        "The program path cannot be registered (it must be absolute and free of "
        "blanks, quotes, '\\', '%', '$' and ';'): " +
        programPath_);
    return false;
}

bool Registration::uninstallService() {
    std::string unit = unitPath();
    struct stat info;
    if (::stat(unit.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return true;  // not installed
        errors_.push_back("Could not open service");
        return false;
    }
    bool stopped = true;
    if (manager_ != nullptr) {
        ServiceManager::Result stop = manager_->run({"stop", kUnitName});
        if (stop == ServiceManager::Result::Unreachable) {
            errors_.push_back("Could not open Service Manager");
            return false;
        }
        if (stop == ServiceManager::Result::Failed) {
            // The unit is still deleted below; the failure is reported all the same.
            errors_.push_back("Could not stop service");
            stopped = false;
        }
        if (manager_->run({"disable", kUnitName}) != ServiceManager::Result::Done) {
            errors_.push_back("Could not delete service");
            return false;
        }
    }
    if (!removeFileIfPresent(unit)) {
        errors_.push_back("Could not delete service");
        return false;
    }
    if (manager_ != nullptr)
        manager_->run({"daemon-reload"});
    return stopped;
}

bool Registration::installService() {
    if (!writeFile(unitPath(), unitFileText(programPath_)))
        return false;
    if (manager_ == nullptr)
        return true;
    if (manager_->run({"daemon-reload"}) == ServiceManager::Result::Unreachable) {
        errors_.push_back("Could not open Service Manager");
        return false;
    }
    if (manager_->run({"enable", kUnitName}) != ServiceManager::Result::Done) {
        errors_.push_back("Could not enable service");
        return false;
    }
    return true;
}

bool Registration::writeFile(const std::string& path, const std::string& content) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    errno = 0;
    // Unit and bus files are read by the service manager and the bus daemon.
    if (!FileSystem::createFolders(folder, 0755) || !replaceFileContents(path, content, 0644)) {
        errors_.push_back("Could not write " + path + ": " + errorText());
        return false;
    }
    return true;
}

bool Registration::removeFileIfPresent(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR)
        return true;
    errors_.push_back("Could not remove " + path + ": " + errorText());
    return false;
}

RegisteredMode readRegisteredMode(const std::string& root) {
    std::string content;
    std::string path = withFinalSlash(root) + Registration::kActivationFile;
    if (!FileSystem::readFile(path, content))
        return RegisteredMode::NotRegistered;
    size_t at = 0;
    while (at < content.size()) {
        size_t end = content.find('\n', at);
        if (end == std::string::npos)
            end = content.size();
        if (content.compare(at, std::strlen("SystemdService="), "SystemdService=") == 0) {
            return RegisteredMode::Service;
        }
        at = end + 1;
    }
    return RegisteredMode::LocalServer;
}

std::string installRootFromEnvironment() {
    const char* root = std::getenv("VANTORSYNC_ROOT");
    return root != nullptr && *root != '\0' ? root : "/";
}

bool isSystemRoot(const std::string& root) {
    return !root.empty() && root.find_first_not_of('/') == std::string::npos;
}
