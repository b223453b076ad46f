#include "apps/VantorSyncSvc/ServiceManager.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>

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
