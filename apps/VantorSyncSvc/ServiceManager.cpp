#include "apps/VantorSyncSvc/ServiceManager.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>

extern char** environ;

ServiceManager::Result SystemctlServiceManager::run(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"systemctl"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return runProgram(std::move(words));
}

ServiceManager::Result runProgram(std::vector<std::string> words) {
    using Result = ServiceManager::Result;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return Result::Unreachable;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return Result::Unreachable;
    }
    if (!WIFEXITED(status))
        return Result::Failed;
    // 127: the program could not be executed after the spawn.
    if (WEXITSTATUS(status) == 127)
        return Result::Unreachable;
    return WEXITSTATUS(status) == 0 ? Result::Done : Result::Failed;
}

bool systemdIsRunning() {
    struct stat info;
    return ::stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

std::string debianPackageOwning(const std::string& path) {
    // Only the registration's own fixed paths come here; anything a shell would read
    // differently is not asked about.
    if (path.find_first_of("'\\\n") != std::string::npos)
        return std::string();
    std::string command = "dpkg-query -S -- '" + path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::string();
    char line[512];
    std::string first;
    if (std::fgets(line, sizeof line, pipe) != nullptr)
        first = line;
    // The answer is "package[, package]: path"; diversions read "diversion by ...".
    int status = ::pclose(pipe);
    if (status != 0 || first.rfind("diversion", 0) == 0)
        return std::string();
    size_t end = first.find_first_of(",:");
    return end == std::string::npos ? std::string() : first.substr(0, end);
}
