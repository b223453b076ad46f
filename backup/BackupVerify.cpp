#include "backup/BackupVerify.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "backup/Sha256.h"
#include "platform/FileSystem.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "storage/IndexMark.h"
#include "storage/StoreCheck.h"

namespace BackupVerify {

namespace {

using Problems = std::vector<std::string>;

void checkFiles(const std::string& folder, const BackupManifest& manifest, Problems& problems) {
    std::set<std::string> listed;
    for (const BackupManifest::File& file : manifest.files) {
        listed.insert(file.name);
        const std::string path = folder + file.name;
        if (std::find(backupFiles().begin(), backupFiles().end(), file.name) ==
            backupFiles().end()) {
            problems.push_back(file.name + ": listed in the manifest, but not a backup file");
            continue;
        }
        const long long size = FileSystem::fileSize(path);
        if (size < 0) {
            problems.push_back(file.name + ": missing");
        } else if (uint64_t(size) != file.size) {
            problems.push_back(file.name + ": " + std::to_string(size) +
                               " bytes, the manifest says " + std::to_string(file.size));
        } else if (Sha256::ofFile(path) != file.sha256) {
            problems.push_back(file.name + ": the SHA-256 does not match the manifest");
        }
    }
    for (const std::string& name : backupFiles()) {
        if (!listed.count(name))
            problems.push_back(name + ": not in the manifest");
    }
    for (const std::string& name : FileSystem::listFolder(folder)) {
        if (name != BackupManifest::kFileName && !listed.count(name))
            problems.push_back(name + ": not part of a backup");
    }
}

void checkNumbering(const char* store, const BackupManifest::Store& said,
                    const StoreCheck::Extent& found, uint32_t mark, Problems& problems) {
    const std::string name(store);
    if (said.historyBase != found.historyBase || said.end != found.end) {
        problems.push_back(name + ": the manifest numbers " + std::to_string(said.historyBase) +
                           " to " + std::to_string(said.end) + ", the files " +
                           std::to_string(found.historyBase) + " to " + std::to_string(found.end));
    }
    if (said.highestIndex != mark || mark < said.end) {
        problems.push_back(
            name + ": the highest index handed out (" + std::to_string(mark) + " in " +
            IndexMark::kFileName + ", " + std::to_string(said.highestIndex) +
            " in the manifest) must match and reach the end " + std::to_string(said.end));
    }
}

Problems checkDataFolderOnce(const std::string& folder) {
    Problems problems;
    StoreCheck::Extent extent;
    StoreCheck::checkWhitelist(folder, true, extent, problems);
    StoreCheck::checkTrainingDb(folder, true, extent, problems);
    IndexMark mark;
    if (mark.read(folder) == IndexMark::State::damaged)
        problems.push_back(std::string(IndexMark::kFileName) + ": damaged");
    return problems;
}

}  // namespace

const std::vector<std::string>& backupFiles() {
    static const std::vector<std::string> files = {
        "config.xml",
        CommonWhitelist::kKeysFileName,
        CommonWhitelist::kHistoryFileName,
        CommonTrainingDb::kDataFileName,
        CommonTrainingDb::kOptionsFileName,
        IndexMark::kFileName,
    };
    return files;
}

Problems checkBackup(const std::string& folder, BackupManifest* manifestOut) {
    Problems problems;
    std::string text, why;
    BackupManifest manifest;
    if (!FileSystem::readFile(folder + BackupManifest::kFileName, text)) {
        problems.push_back(std::string(BackupManifest::kFileName) +
                           ": missing or unreadable (not a whole backup)");
        return problems;
    }
    if (!BackupManifest::parse(text, manifest, why)) {
        problems.push_back(std::string(BackupManifest::kFileName) + ": " + why);
        return problems;
    }
    checkFiles(folder, manifest, problems);
    StoreCheck::Extent whitelist, trainingDb;
    StoreCheck::checkWhitelist(folder, false, whitelist, problems);
    StoreCheck::checkTrainingDb(folder, false, trainingDb, problems);
    IndexMark mark;
    if (mark.read(folder) != IndexMark::State::sound) {
        problems.push_back(std::string(IndexMark::kFileName) + ": missing or damaged");
    } else {
        checkNumbering("whitelist", manifest.whitelist, whitelist, mark.whitelist, problems);
        checkNumbering("training database", manifest.trainingDb, trainingDb, mark.trainingDb,
                       problems);
    }
    if (manifestOut)
        *manifestOut = manifest;
    return problems;
}

Problems checkDataFolder(const std::string& folder) {
    // A file read just as a push group was being appended to it can look torn; what is
    // still wrong a moment later is damage.
    Problems problems = checkDataFolderOnce(folder);
    for (int attempt = 0; attempt < 3 && !problems.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        problems = checkDataFolderOnce(folder);
    }
    return problems;
}

}  // namespace BackupVerify
