// Backup, restore and the check of the live files: the service's side, which knows the
// stores, the running server and the numbering clients hold.
#include <algorithm>
#include <chrono>

#include "apps/VantorSyncSvc/SyncService.h"
#include "backup/BackupVerify.h"
#include "backup/BackupWriter.h"
#include "backup/RestoreSwap.h"
#include "metrics/Metrics.h"
#include "storage/IndexMark.h"

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

}  // namespace

bool SyncService::recordHighestIndexes() {
    IndexMark mark;
    const std::string folder = dataFolder();
    mark.read(folder);
    mark.raiseTo(whitelist_.end(), trainingDb_.end());
    return mark.write(folder);
}

bool SyncService::takeBackup(const std::string& folder, std::string& summary, std::string& why) {
    BackupTaken taken;
    if (!::takeBackup(whitelist_, trainingDb_, dataFolder(), folder, taken, why))
        return false;
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    Metrics::instance().backupTaken(now, taken.bytes);
    const BackupManifest& manifest = taken.manifest;
    summary = "backup in " + taken.folder + ": whitelist " +
              std::to_string(manifest.whitelist.historyBase) + " to " +
              std::to_string(manifest.whitelist.end) + ", training database " +
              std::to_string(manifest.trainingDb.historyBase) + " to " +
              std::to_string(manifest.trainingDb.end) + ", " + std::to_string(taken.bytes) +
              " bytes";
    return true;
}

std::vector<std::string> SyncService::checkDataFolder() {
    return BackupVerify::checkDataFolder(dataFolder());
}

bool SyncService::renumberStaged(const std::string& staging, uint32_t whitelistBase,
                                 uint32_t trainingDbBase, std::string& why) {
    CommonWhitelist whitelist;
    CommonTrainingDb trainingDb;
    const bool ok = whitelist.load(staging) && whitelist.renumberFrom(whitelistBase, staging) &&
                    trainingDb.load(staging) && trainingDb.renumberFrom(trainingDbBase) &&
                    trainingDb.flush();
    IndexMark mark;
    mark.whitelist = whitelistBase - 1;
    mark.trainingDb = trainingDbBase - 1;
    if (ok && mark.write(staging))
        return true;
    why = "the staged files in " + staging + " could not be renumbered";
    return false;
}

bool SyncService::restoreBackup(const std::string& source, std::string& summary, std::string& why) {
    std::string from = source;
    if (from.empty() || from.back() != '/')
        from += '/';
    BackupManifest manifest;
    const std::vector<std::string> problems = BackupVerify::checkBackup(from, &manifest);
    if (!problems.empty()) {
        why =
            "the backup in " + source + " is not sound; nothing was changed:\n" + joined(problems);
        return false;
    }
    AutoLock lock(mainLock_);
    const std::string folder = dataFolder();
    // Every index any client may hold: the live folder's mark and ends, and the backup's.
    // Without a mark, the live folder is not the one the clients knew: leave a gap.
    IndexMark live;
    const bool known = live.read(folder) == IndexMark::State::sound;
    live.raiseTo(whitelist_.end(), trainingDb_.end());
    live.raiseTo(manifest.whitelist.highestIndex, manifest.trainingDb.highestIndex);
    const uint32_t gap = known ? 0 : kLostFolderGap;
    const uint32_t whitelistBase = live.whitelist + 1 + gap;
    const uint32_t trainingDbBase = live.trainingDb + 1 + gap;
    if (uint64_t(trainingDbBase) + manifest.trainingDb.end - manifest.trainingDb.historyBase >=
        CommonTrainingDb::kRenumberAt) {
        why = "the training database's numbering would pass 2^31; clear it first";
        return false;
    }
    const bool wasRunning = running_;
    stopServer();
    std::string aside;
    const bool swapped =
        RestoreSwap::stage(from, folder, why) &&
        renumberStaged(RestoreSwap::stagingFolder(folder), whitelistBase, trainingDbBase, why) &&
        trainingDb_.flush() && RestoreSwap::swapIn(folder, aside, why);
    // A swap that stopped halfway is finished now, one that never became ready is dropped,
    // so the folder never stays a mix of old and restored files.
    std::string unfinished;
    if (!swapped && !RestoreSwap::finishInterrupted(folder, unfinished))
        why += "; " + unfinished + " (the next start completes the restore)";
    // Whatever happened, the stores serve what the folder now holds.
    std::string refusal;
    const bool reloaded = settings_.reloadFile(configPath(), refusal);
    const bool loaded = whitelist_.load(folder) && trainingDb_.load(folder);
    // Restored numbering starts above every index handed out, so no cached snapshot can
    // match the new state; it is let go at once rather than at the next push.
    whitelistSnapshot_.dropStale(whitelist_);
    if (wasRunning)
        startServer();
    if (!swapped)
        return false;
    if (!loaded) {
        why = "the restored stores in " + folder + " could not be loaded";
        return false;
    }
    summary = "restored " + source + "; the replaced files are in " + aside +
              "; whitelist numbering continues at " + std::to_string(whitelistBase) +
              ", training database at " + std::to_string(trainingDbBase) +
              (reloaded ? "" : "; the restored config.xml was not applied: " + refusal);
    return true;
}
