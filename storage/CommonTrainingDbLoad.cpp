// Loading the training database: the history exactly as it was served before the
// stop or crash, and what to do with files that a crash or a bad disk left behind.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <unordered_map>

#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "storage/CommonTrainingDb.h"
#include "storage/TrainingDbOptions.h"

void CommonTrainingDb::setAsideDamagedFile(int64_t damagedAt) {
    const std::string dataPath = folder_ + kDataFileName;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &parts);
    std::string aside = dataPath + ".damaged-" + stamp;
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0; ++n)
        aside = dataPath + ".damaged-" + stamp + "-" + std::to_string(n);
    if (file_.setAside(damagedAt, aside)) {
        std::fprintf(stderr,
                     "%s: damaged record at offset %lld; the whole file is kept as %s, the "
                     "records before it are loaded\n",
                     dataPath.c_str(), static_cast<long long>(damagedAt), aside.c_str());
    } else {
        std::fprintf(stderr,
                     "%s: damaged record at offset %lld, and the file could not be set aside; "
                     "the records before it are served\n",
                     dataPath.c_str(), static_cast<long long>(damagedAt));
    }
}

bool CommonTrainingDb::cutUnacknowledgedTail() {
    recordedEnd_ = TrainingDbEnd{};
    TrainingDbEnd recorded;
    if (!recorded.read(folder_ + kEndFileName) || recorded.fileId != file_.fileId())
        return true;  // none recorded for this file: every record in it counts
    recordedEnd_ = recorded;
    // An end beyond the file is not this file's any more (cut since): it tells nothing.
    if (recorded.end >= uint64_t(file_.dataSize()))
        return true;
    return file_.cutBackTo(int64_t(recorded.end));
}

bool CommonTrainingDb::recordEndLocked() {
    const TrainingDbEnd now{file_.fileId(), uint64_t(file_.dataSize())};
    if (now == recordedEnd_)
        return true;
    if (!file_.syncData() || !now.write(folder_ + kEndFileName))
        return false;
    recordedEnd_ = now;
    return true;
}

void CommonTrainingDb::resolveDoubleCurrents(
    const std::vector<std::pair<uint32_t, uint32_t>>& superseded) {
    if (superseded.empty())
        return;
    for (const auto& [offset, label] : superseded)
        file_.markSuperseded(offset, label);
    file_.syncData();
}

bool CommonTrainingDb::load(const std::string& folder) {
    AutoLock guard(lock_);
    waitForCommitsLocked();
    folder_ = folder;
    cutBackTo_ = -1;
    clearDeferred_ = false;
    clearedAt_ = 0;
    const std::string dataPath = folder + kDataFileName;
    const std::string optionsPath = folder + kOptionsFileName;
    removeLeftoverTemporaries(optionsPath);
    removeLeftoverTemporaries(dataPath + ".fm");
    if (!file_.open(dataPath))
        return false;
    TrainingDbOptions options;
    options.historyBase = historyBase_;  // a short file leaves the base as it was
    if (!options.read(optionsPath))
        return false;
    historyBase_ = options.historyBase;
    const uint32_t first = options.firstOffsetIn(file_.fileId());
    // A compaction that did not reach its rename: the file in place is the valid one.
    fileOps().unlink((dataPath + ".new").c_str());
    if (!cutUnacknowledgedTail())
        return false;

    // The current record of each descriptor seen so far, to find a relabel that a crash
    // left half done: its new record durable, its old one still current.
    struct Current {
        uint32_t offset;
        uint32_t label;
    };
    std::unordered_map<int64_t, Current> currents;
    std::vector<std::pair<uint32_t, uint32_t>> superseded;
    // readAll calls it right here, under this function's lock.
    const auto collect = [&](uint32_t offset, const MessageDescriptor& descriptor) REQUIRES(lock_) {
        if (descriptor.status == MessageDescriptor::kCurrent) {
            auto [known, added] =
                currents.try_emplace(descriptor.fingerprint, Current{offset, descriptor.label});
            if (!added) {
                if (known->second.label != descriptor.label &&
                    file_.recordMatches(known->second.offset, descriptor))
                    superseded.emplace_back(known->second.offset, descriptor.label);
                known->second = Current{offset, descriptor.label};
            }
        }
        // Every record from the start on was appended as a change. Files written before
        // the start was recorded only allow the current records.
        const bool inHistory =
            options.complete ? offset >= first : descriptor.status >= 1 && descriptor.status <= 99;
        if (inHistory)
            history_.push_back(offset);
    };
    history_.clear();
    int64_t damagedAt = -1;
    if (!file_.readAll(collect, &damagedAt))
        return false;
    bool ok = true;
    if (damagedAt >= 0) {
        setAsideDamagedFile(damagedAt);
        history_.clear();
        currents.clear();
        superseded.clear();
        int64_t again = -1;
        ok = file_.readAll(collect, &again) && again < 0;
    }
    resolveDoubleCurrents(superseded);
    // From now on the options file tells exactly where the history starts; a numbering
    // near its end starts again from 0.
    const bool renumber = uint64_t(historyBase_) + history_.size() >= kRenumberAt;
    if (renumber)
        historyBase_ = 0;
    if (!options.complete || options.pendingShift != 0 || renumber)
        saveOptions();
    // From here on a crash may tear appends: what is loaded now is what they follow.
    return recordEndLocked() && ok;
}
