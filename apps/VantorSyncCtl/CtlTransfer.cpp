#include "apps/VantorSyncCtl/CtlTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "VantorSyncCtl: %s\n", message.c_str());
    return 1;
}

std::string countsText(const std::tuple<uint64_t, uint64_t>& counts) {
    return std::to_string(std::get<0>(counts)) + " whitelist keys and " +
           std::to_string(std::get<1>(counts)) + " training descriptors";
}

// A new file only: an export never overwrites an earlier one.
int createExportFile(const std::string& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = "cannot create " + path + ": " + std::strerror(errno) +
              (errno == EEXIST ? " (export into a new or empty folder)" : "");
    }
    return fd;
}

// The two new names, so that a crash right after the export does not lose them.
bool syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

int runExport(const std::string& target, VantorSyncProxy& service) {
    if (target == "-") {
        const auto counts =
            service.exportTo(sdbus::UnixFd(STDOUT_FILENO), sdbus::UnixFd(STDOUT_FILENO));
        std::fprintf(stderr, "VantorSyncCtl: exported %s\n", countsText(counts).c_str());
        return 0;
    }
    if (::mkdir(target.c_str(), 0700) != 0 && errno != EEXIST)
        return fail("cannot create the folder " + target + ": " + std::strerror(errno));
    const std::string whitelistPath = target + "/" + kWhitelistExportName;
    const std::string trainingDbPath = target + "/" + kTrainingDbExportName;
    std::string why;
    const int whitelistFd = createExportFile(whitelistPath, why);
    if (whitelistFd < 0)
        return fail(why);
    const int trainingDbFd = createExportFile(trainingDbPath, why);
    if (trainingDbFd < 0) {
        ::close(whitelistFd);
        ::unlink(whitelistPath.c_str());
        return fail(why);
    }
    // The files go with the call; a half-written export is not left behind for an import.
    sdbus::UnixFd whitelist(whitelistFd, sdbus::adopt_fd);
    sdbus::UnixFd trainingDb(trainingDbFd, sdbus::adopt_fd);
    try {
        const auto counts = service.exportTo(whitelist, trainingDb);
        if (::fsync(whitelistFd) != 0 || ::fsync(trainingDbFd) != 0 || !syncFolder(target))
            throw std::runtime_error(std::string("cannot sync the export: ") +
                                     std::strerror(errno));
        std::printf("exported %s to %s\n", countsText(counts).c_str(), target.c_str());
        return 0;
    } catch (...) {
        ::unlink(whitelistPath.c_str());
        ::unlink(trainingDbPath.c_str());
        throw;
    }
}

int runImport(const std::string& source, VantorSyncProxy& service) {
    std::tuple<uint64_t, uint64_t> counts;
    if (source == "-") {
        counts = service.importFrom(sdbus::UnixFd(STDIN_FILENO));
    } else {
        const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return fail("cannot open " + source + ": " + std::strerror(errno));
        counts = service.importFrom(sdbus::UnixFd(fd, sdbus::adopt_fd));
    }
    std::printf("imported %s\n", countsText(counts).c_str());
    return 0;
}
