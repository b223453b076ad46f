#pragma once

#include <string>
#include <vector>

// The system's service manager as the registration sees it: one command at a time.
class ServiceManager {
  public:
    enum class Result {
        Done,         // the command succeeded
        Failed,       // the manager ran the command and reported failure
        Unreachable,  // the manager could not be asked at all
    };

    virtual ~ServiceManager() = default;
    virtual Result run(const std::vector<std::string>& arguments) = 0;
};

// Runs "systemctl <arguments>" and waits for it; its output goes where ours goes.
class SystemctlServiceManager : public ServiceManager {
  public:
    Result run(const std::vector<std::string>& arguments) override;
};

// Runs words[0] (looked up in PATH) with the rest as arguments and waits for it;
// Unreachable when it cannot be started.
ServiceManager::Result runProgram(std::vector<std::string> words);

// True when the machine was booted with systemd as its service manager.
bool systemdIsRunning();

// The Debian package whose files include path, as dpkg's database says; empty when no
// package owns it or dpkg is not there.
std::string debianPackageOwning(const std::string& path);
