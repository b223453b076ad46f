#pragma once

#include <functional>
#include <string>
#include <vector>

#include "apps/VantorSyncSvc/ServiceManager.h"

// The files that make the service known to the machine, written under an install
// root ("/" on a real system), with the same text the package installs:
//   the sysusers.d entry     — the unprivileged account the service runs as,
//   the bus activation file  — its SystemdService= line marks service mode,
//   the bus policy           — who may own the name and who may call the service,
//   the systemd unit         — present only in service mode.
class Registration {
  public:
    static constexpr const char* kActivationFile =
        "usr/share/dbus-1/system-services/com.mailvane.VantorSyncSvc.service";
    static constexpr const char* kPolicyFile =
        "usr/share/dbus-1/system.d/com.mailvane.VantorSyncSvc.conf";
    static constexpr const char* kUnitFile = "etc/systemd/system/VantorSyncSvc.service";
    static constexpr const char* kUnitName = "VantorSyncSvc.service";
    static constexpr const char* kSysusersFile = "etc/sysusers.d/vantorsync.conf";
    // Where the package puts its unit.
    static constexpr const char* kPackagedUnitFile = "lib/systemd/system/VantorSyncSvc.service";

    // The package that installed the file at path, or "" when none did.
    using PackageOwner = std::function<std::string(const std::string& path)>;
    // Creates the account named by the sysusers.d file given; false with the reason.
    using AccountStep = std::function<bool(const std::string& sysusersFile, std::string& error)>;

    // manager is told about the unit (reload, enable, stop, disable); null when
    // there is none to tell, as under a test root or on a machine without systemd.
    Registration(std::string root, std::string programPath, ServiceManager* manager);

    // Run after the sysusers.d entry is written and before the bus policy that names the
    // account; none under a test root.
    void setAccountStep(AccountStep step) { accountStep_ = std::move(step); }
    // Asked about the files a package would have installed before any switch changes
    // anything: a packaged install is managed by the package, never by the switches.
    void setPackageOwner(PackageOwner owner) { packageOwner_ = std::move(owner); }

    // "Service": reinstalls the systemd service and writes all three files.
    bool registerService();
    // "RegServer": removes the service, writes activation (without systemd) and policy.
    bool registerLocalServer();
    // "UnregServer": removes all the files, stopping and disabling the service. The
    // account stays, as Debian leaves system accounts behind, and so does its data.
    bool unregister();

    // One line for each failure of the last operation, in the order they happened.
    const std::vector<std::string>& errors() const { return errors_; }

    std::string activationPath() const { return root_ + kActivationFile; }
    std::string policyPath() const { return root_ + kPolicyFile; }
    std::string unitPath() const { return root_ + kUnitFile; }
    std::string sysusersPath() const { return root_ + kSysusersFile; }

  private:
    // Policy and activation files, after the program path is checked and any service removed.
    bool writeBusFiles(bool serviceMode);
    bool writeAccount();
    bool checkProgramPath();
    bool refuseIfPackaged(const char* switchName);
    bool uninstallService();
    bool installService();
    bool writeFile(const std::string& path, const std::string& content);
    bool removeFileIfPresent(const std::string& path);

    std::string root_;  // always ends in "/"
    std::string programPath_;
    ServiceManager* manager_;
    AccountStep accountStep_;
    PackageOwner packageOwner_;
    std::vector<std::string> errors_;
};

std::string activationFileText(const std::string& programPath, bool startedBySystemd);
std::string policyFileText();
std::string unitFileText(const std::string& programPath);
std::string sysusersFileText();

enum class RegisteredMode { NotRegistered, Service, LocalServer };

// What the activation file under root says about how the program is to run.
RegisteredMode readRegisteredMode(const std::string& root);

// $VANTORSYNC_ROOT, or "/" when it is unset or empty.
std::string installRootFromEnvironment();
// True when root names the machine's own root folder.
bool isSystemRoot(const std::string& root);
