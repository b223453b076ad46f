#include "backup/BackupWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "backup/BackupVerify.h"
#include "backup/Sha256.h"
#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "platform/FileSystem.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "storage/IndexMark.h"
#include "storage/StoreCheck.h"

namespace {

class FdCloser {
  public:
    explicit FdCloser(int& fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0)
            ::close(fd_);
    }

  private:
    int& fd_;
};

bool writeAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t wrote = fileOps().writeFd(fd, bytes, size);
        if (wrote <= 0)
            return false;
        bytes += wrote;
        size -= size_t(wrote);
    }
    return true;
}

// Removes what an unfinished backup wrote; the live files are never touched.
void removeFolder(const std::string& folder) {
    for (const std::string& name : FileSystem::listFolder(folder))
        ::unlink((folder + "/" + name).c_str());
    ::rmdir(folder.c_str());
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string errorText(const std::string& what) {
    return what + " (" + std::strerror(errno) + ")";
}

// The whitelist's files as opened at rest: appends only overwrite the history's trailer
// and what follows it, so the bytes before it plus the trailer read then are that state.
struct WhitelistAtRest {
    int keysFd = -1, historyFd = -1;
    int64_t keysSize = 0, historySize = 0;
    std::string trailer;
};

bool openWhitelistAtRest(CommonWhitelist& whitelist, const std::string& dataFolder,
                         WhitelistAtRest& files) {
    bool ok = false;
    whitelist.withFilesAtRest([&] {
        struct stat keys {
        }, history{};
        files.keysFd =
            ::open((dataFolder + CommonWhitelist::kKeysFileName).c_str(), O_RDONLY | O_CLOEXEC);
        files.historyFd =
            ::open((dataFolder + CommonWhitelist::kHistoryFileName).c_str(), O_RDONLY | O_CLOEXEC);
        if (files.keysFd < 0 || files.historyFd < 0 || ::fstat(files.keysFd, &keys) != 0 ||
            ::fstat(files.historyFd, &history) != 0)
            return;
        files.keysSize = keys.st_size;
        files.historySize = history.st_size;
        const int64_t trailer = CommonWhitelist::kHistoryTrailerSize;
        if (files.historySize >= 4 + trailer &&
            (files.historySize - 4) % WhitelistChange::kSize == uint64_t(trailer)) {
            files.trailer.resize(size_t(trailer));
            if (::pread(files.historyFd, files.trailer.data(), size_t(trailer),
                        files.historySize - trailer) != trailer)
                return;
        }
        ok = true;
    });
    return ok;
}

bool copyWhitelist(const WhitelistAtRest& files, const std::string& folder) {
    const int64_t before = files.historySize - int64_t(files.trailer.size());
    const std::string historyPath = folder + CommonWhitelist::kHistoryFileName;
    if (!copyIntoNewFile(files.keysFd, files.keysSize, folder + CommonWhitelist::kKeysFileName) ||
        !copyIntoNewFile(files.historyFd, before, historyPath))
        return false;
    if (files.trailer.empty())
        return true;
    int fd = ::open(historyPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    FdCloser closer(fd);
    return fd >= 0 && writeAll(fd, files.trailer.data(), files.trailer.size()) &&
           fileOps().sync(fd) == 0;
}

bool copyTrainingDb(CommonTrainingDb& trainingDb, const std::string& folder) {
    bool ok = false;
    trainingDb.holdFilesAtRest([&](const CommonTrainingDb::FilesAtRest& files) {
        int fd = ::open(files.dataPath.c_str(), O_RDONLY | O_CLOEXEC);
        FdCloser closer(fd);
        // The options file is written from memory: the one on disk may still describe a
        // finished compaction by the inode of a file the backup does not have.
        ok = fd >= 0 &&
             copyIntoNewFile(fd, files.dataLength, folder + CommonTrainingDb::kDataFileName) &&
             files.start.write(folder + CommonTrainingDb::kOptionsFileName);
    });
    return ok;
}

bool copyConfig(const std::string& dataFolder, const std::string& folder) {
    int fd = ::open((dataFolder + "config.xml").c_str(), O_RDONLY | O_CLOEXEC);
    FdCloser closer(fd);
    struct stat about {};
    return fd >= 0 && ::fstat(fd, &about) == 0 &&
           copyIntoNewFile(fd, about.st_size, folder + "config.xml");
}

// The manifest, from the files as written; false when the copy is not a sound backup.
bool describe(const std::string& folder, const IndexMark& mark, BackupManifest& manifest,
              uint64_t& bytes, std::string& why) {
    std::vector<std::string> problems;
    StoreCheck::Extent whitelist, trainingDb;
    StoreCheck::checkWhitelist(folder, false, whitelist, problems);
    StoreCheck::checkTrainingDb(folder, false, trainingDb, problems);
    if (!problems.empty()) {
        why = "the copy is not sound: " + problems.front();
        return false;
    }
    manifest.created = utcNow();
    manifest.whitelist = {whitelist.historyBase, whitelist.end, mark.whitelist};
    manifest.trainingDb = {trainingDb.historyBase, trainingDb.end, mark.trainingDb};
    for (const std::string& name : BackupVerify::backupFiles()) {
        const long long size = FileSystem::fileSize(folder + name);
        const std::string digest = Sha256::ofFile(folder + name);
        if (size < 0 || digest.empty()) {
            why = errorText("could not read back " + folder + name);
            return false;
        }
        manifest.files.push_back({name, uint64_t(size), digest});
        bytes += uint64_t(size);
    }
    const std::string text = manifest.toJson();
    bytes += text.size();
    if (!replaceFileContents(folder + BackupManifest::kFileName, text)) {
        why = errorText("could not write the manifest");
        return false;
    }
    return true;
}

}  // namespace

bool copyIntoNewFile(int fd, int64_t length, const std::string& path) {
    int out = fileOps().open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    FdCloser closer(out);
    if (out < 0)
        return false;
    off_t offset = 0;
    std::vector<char> buffer;
    while (offset < length) {
        const size_t want = size_t(std::min<int64_t>(length - offset, int64_t(1) << 24));
        // In the kernel where it can; otherwise through a buffer.
        ssize_t copied = ::copy_file_range(fd, &offset, out, nullptr, want, 0);
        // (EPERM: a system call filter that does not know copy_file_range.)
        if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                           errno == EOPNOTSUPP || errno == EPERM)) {
            buffer.resize(1 << 20);
            copied = ::pread(fd, buffer.data(), std::min(want, buffer.size()), offset);
            if (copied > 0 && !writeAll(out, buffer.data(), size_t(copied)))
                return false;
            if (copied > 0)
                offset += copied;
        }
        if (copied <= 0)
            return false;  // an error, or the file is shorter than it was at rest
    }
    return fileOps().sync(out) == 0;
}

bool takeBackup(CommonWhitelist& whitelist, CommonTrainingDb& trainingDb,
                const std::string& dataFolder, const std::string& targetPath, BackupTaken& taken,
                std::string& why) {
    std::string target = targetPath;
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();
    if (target.empty() || target[0] != '/') {
        why = "the backup folder must be an absolute path";
        return false;
    }
    if (::access(target.c_str(), F_OK) == 0) {
        why = target + " exists already; a backup goes into a new folder";
        return false;
    }
    std::string pattern = target + ".partial-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        why = errorText("could not create a folder beside " + target);
        return false;
    }
    const std::string folder = pattern + "/";
    WhitelistAtRest wl;
    FdCloser keysCloser(wl.keysFd), historyCloser(wl.historyFd);
    IndexMark mark;
    bool ok = openWhitelistAtRest(whitelist, dataFolder, wl);
    ok = ok && copyTrainingDb(trainingDb, folder);
    ok = ok && copyWhitelist(wl, folder) && copyConfig(dataFolder, folder);
    if (!ok)
        why = errorText("could not copy the store files from " + dataFolder);
    if (ok) {
        // Clients may hold any index up to the live ends, beyond what was copied.
        mark.read(dataFolder);
        mark.raiseTo(whitelist.end(), trainingDb.end());
        ok = mark.write(folder);
        if (!ok)
            why = errorText("could not write the index mark");
    }
    ok = ok && describe(folder, mark, taken.manifest, taken.bytes, why);
    if (ok &&
        (!syncParentFolder(folder + BackupManifest::kFileName) ||
         fileOps().rename(pattern.c_str(), target.c_str()) != 0 || !syncParentFolder(target))) {
        why = errorText("could not put the backup in place as " + target);
        ok = false;
    }
    if (!ok) {
        removeFolder(pattern);
        return false;
    }
    taken.folder = target;
    return true;
}
