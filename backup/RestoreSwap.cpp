#include "backup/RestoreSwap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "backup/BackupVerify.h"
#include "backup/BackupWriter.h"
#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "platform/FileSystem.h"
#include "storage/CommonTrainingDb.h"

namespace RestoreSwap {

namespace {

// Every file a restore replaces: the backup's, and the training database's index, which
// describes the old data file and must not stay beside the restored one.
std::string indexName() {
    return std::string(CommonTrainingDb::kDataFileName) + ".fm";
}

std::vector<std::string> swappedFiles() {
    std::vector<std::string> names = BackupVerify::backupFiles();
    names.push_back(indexName());
    return names;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::string errorText(const std::string& what) {
    return what + " (" + std::strerror(errno) + ")";
}

void removeStaging(const std::string& staging) {
    for (const std::string& name : FileSystem::listFolder(staging))
        ::unlink((staging + name).c_str());
    ::rmdir(staging.c_str());
}

// Idempotent: a name already moved is skipped, so it can run again after a crash.
bool moveIn(const std::string& dataFolder, const std::string& aside, std::string& why) {
    const std::string staging = stagingFolder(dataFolder);
    if (!FileSystem::createFolders(aside)) {
        why = errorText("could not create " + aside);
        return false;
    }
    for (const std::string& name : swappedFiles()) {
        const std::string staged = staging + name, live = dataFolder + name, kept = aside + name;
        if (!exists(staged)) {
            // The old index goes aside even when none was staged: the next load rebuilds
            // it from the restored records (at worst a restored one goes too, likewise).
            if (name == indexName() && exists(live) && !exists(kept) &&
                fileOps().rename(live.c_str(), kept.c_str()) != 0) {
                why = errorText("could not move " + live + " aside");
                return false;
            }
            continue;
        }
        if (exists(live) && !exists(kept) && fileOps().rename(live.c_str(), kept.c_str()) != 0) {
            why = errorText("could not move " + live + " aside");
            return false;
        }
        if (fileOps().rename(staged.c_str(), live.c_str()) != 0) {
            why = errorText("could not move " + staged + " into place");
            return false;
        }
    }
    if (!syncParentFolder(aside + ".") || !syncParentFolder(dataFolder + ".")) {
        why = errorText("could not sync the data folder");
        return false;
    }
    removeStaging(staging);
    return syncParentFolder(dataFolder + ".");
}

}  // namespace

std::string stagingFolder(const std::string& dataFolder) {
    return dataFolder + kStagingName + "/";
}

bool stage(const std::string& backupFolder, const std::string& dataFolder, std::string& why) {
    const std::string staging = stagingFolder(dataFolder);
    removeStaging(staging);
    if (::mkdir(staging.c_str(), 0700) != 0) {
        why = errorText("could not create " + staging);
        return false;
    }
    for (const std::string& name : BackupVerify::backupFiles()) {
        int fd = ::open((backupFolder + name).c_str(), O_RDONLY | O_CLOEXEC);
        struct stat about {};
        const bool ok = fd >= 0 && ::fstat(fd, &about) == 0 &&
                        copyIntoNewFile(fd, about.st_size, staging + name);
        if (fd >= 0)
            ::close(fd);
        if (!ok) {
            why = errorText("could not copy " + backupFolder + name + " into " + staging);
            removeStaging(staging);
            return false;
        }
    }
    return true;
}

bool swapIn(const std::string& dataFolder, std::string& aside, std::string& why) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &parts);
    std::string name = std::string("before-restore-") + stamp;
    for (int n = 2; exists(dataFolder + name); ++n)
        name = std::string("before-restore-") + stamp + "-" + std::to_string(n);
    if (!syncParentFolder(stagingFolder(dataFolder) + ".") ||
        !replaceFileContents(dataFolder + kReadyName, name)) {
        why = errorText("could not record the restore as ready");
        return false;
    }
    aside = dataFolder + name + "/";
    if (!moveIn(dataFolder, aside, why))
        return false;
    fileOps().unlink((dataFolder + kReadyName).c_str());
    return syncParentFolder(dataFolder + kReadyName);
}

bool finishInterrupted(const std::string& dataFolder, std::string& why) {
    std::string name;
    if (!exists(dataFolder + kReadyName)) {
        removeStaging(stagingFolder(dataFolder));  // never made ready: the live files stand
        return true;
    }
    if (!FileSystem::readFile(dataFolder + kReadyName, name) || name.empty() ||
        name.find('/') != std::string::npos) {
        why = "the restore record " + dataFolder + kReadyName + " is unreadable";
        return false;
    }
    if (!moveIn(dataFolder, dataFolder + name + "/", why))
        return false;
    fileOps().unlink((dataFolder + kReadyName).c_str());
    return syncParentFolder(dataFolder + kReadyName);
}

}  // namespace RestoreSwap
