// Group commit of the common training database: pushes append their records as they
// come and one sync makes all of them durable. The disk work (the sync, the options file,
// the compaction copy) runs without the store's lock, so pulls go on meanwhile,
// answering from the last durable state; one commit at a time owns the file.
#include <unistd.h>

#include <algorithm>

#include "platform/FileOps.h"
#include "storage/CommonTrainingDb.h"

void CommonTrainingDb::openGroupLocked() {
    // A group being committed is closed to further pushes.
    while (committing_)
        commitEnded_.wait(lock_);
    if (groupOpen_)
        return;
    groupOpen_ = true;
    groupBroken_ = false;
    durableSize_ = history_.size();
    // Records of a failed group that could not be cut are still in the file: no group
    // may stand on them.
    if (cutBackTo_ >= 0) {
        groupBroken_ = !file_.cutBackTo(cutBackTo_);
        if (!groupBroken_)
            cutBackTo_ = -1;
    }
    groupStartSize_ = file_.dataSize();
    file_.beginChanges();
}

bool CommonTrainingDb::applyPending(const HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock guard(lock_);
    openGroupLocked();
    // After a failed write the file's state is uncertain: the whole group goes back.
    if (groupBroken_)
        return false;
    if (body.length() == 0)
        return true;
    if (!applyLocked(body)) {
        groupBroken_ = true;
        return false;
    }
    newIndex = historyBase_ + uint32_t(history_.size());
    return true;
}

bool CommonTrainingDb::commitPending(uint32_t maxSize, uint32_t compactionSlack,
                                     uint32_t trimSlack) {
    CommitPlan plan;
    {
        AutoLock guard(lock_);
        while (exportHolds_ > 0)
            commitEnded_.wait(lock_);
        beginCommitLocked(maxSize, trimSlack, plan);
    }
    makeDurable(plan);
    bool ok;
    {
        AutoLock guard(lock_);
        ok = endCommitLocked(plan);
    }
    settleFiles(maxSize, compactionSlack, ok);
    return ok;
}

// Invariants from here to the end of settleFiles: committing_ is set, so the data file
// changes only through this commit; the group's records are in the file (not yet durable),
// and pulls see only the first durableSize_ history entries.
void CommonTrainingDb::beginCommitLocked(uint32_t maxSize, uint32_t trimSlack, CommitPlan& plan) {
    openGroupLocked();
    committing_ = true;
    plan.generation = generation_;
    plan.optionsPath = folder_.empty() ? std::string() : folder_ + kOptionsFileName;
    if (!groupBroken_ && !plan.optionsPath.empty())
        plan.syncFd = file_.flushForSync();
    plan.end = TrainingDbEnd{file_.fileId(), uint64_t(file_.dataSize())};
    plan.previousEnd = recordedEnd_;
    plan.recordEnd = plan.syncFd >= 0 && !(plan.end == recordedEnd_);
    plan.endPath = folder_ + kEndFileName;
    // Each trim syncs the options file, so the history may first run trimSlack past maxSize.
    const size_t size = history_.size();
    plan.drop = size > size_t(maxSize) + trimSlack ? size - maxSize : 0;
    uint32_t base = historyBase_ + uint32_t(plan.drop);
    const bool renumber = uint64_t(base) + (size - plan.drop) >= kRenumberAt;
    if (renumber)
        base = 0;
    plan.recordStart = plan.drop > 0 || renumber || clearDeferred_;
    plan.start = startAt(base, plan.drop);
    plan.previous = startAt(historyBase_, 0);
    if (durableSize_ == 0)
        plan.previous.firstOffset = uint32_t(groupStartSize_);
}

// Without the lock: the records first, then the start that may name them.
void CommonTrainingDb::makeDurable(CommitPlan& plan) {
    if (plan.syncFd < 0)
        return;
    plan.durable = fileOps().sync(plan.syncFd) == 0;
    ::close(plan.syncFd);
    // The end goes before the start that may name records up to it, and both only once the
    // records are on the disk: a load cuts what lies past the end.
    if (plan.durable && plan.recordEnd && !plan.end.write(plan.endPath)) {
        plan.previousEnd.write(plan.endPath);
        plan.durable = false;
    }
    if (plan.durable && plan.recordStart && !plan.start.write(plan.optionsPath)) {
        // The new file may be in place even so (its folder sync failed): the start on
        // disk must go back to the one clients were told, and the end with it, as the
        // group is cut.
        plan.previous.write(plan.optionsPath);
        if (plan.recordEnd)
            plan.previousEnd.write(plan.endPath);
        plan.durable = false;
    }
}

// The group's fate: kept with its superseded heads written now that their successors are
// durable, or cut from the file. Either way the group ends here and pulls see it all.
bool CommonTrainingDb::endCommitLocked(const CommitPlan& plan) {
    // A clear meanwhile took every entry of the group out of memory already.
    const bool cleared = plan.generation != generation_;
    if (plan.recordEnd)
        recordedEnd_ = plan.durable ? plan.end : plan.previousEnd;
    if (plan.durable) {
        file_.commitChanges();
        if (!cleared) {
            history_.erase(history_.begin(), history_.begin() + std::ptrdiff_t(plan.drop));
            historyBase_ = plan.start.historyBase;
        }
    } else {
        if (!file_.rollbackChanges())
            cutBackTo_ = cutBackTo_ < 0 ? groupStartSize_ : std::min(cutBackTo_, groupStartSize_);
        if (!cleared)
            history_.resize(std::min(durableSize_, history_.size()));
    }
    clearedAt_ = std::min(clearedAt_, file_.dataSize());
    groupOpen_ = false;
    return plan.durable;
}

// The file work after the group is decided: the side of a clear that happened meanwhile,
// and a compaction when the file holds too much; then the commit ends.
void CommonTrainingDb::settleFiles(uint32_t maxCount, uint32_t compactionSlack, bool mayCompact) {
    bool clearFailed = false;
    for (;;) {
        bool clearing = false;
        uint32_t keep = maxCount;
        {
            AutoLock guard(lock_);
            // Nothing may be dropped or moved on top of records that a failed cut left.
            const bool fileSound = cutBackTo_ < 0 && !folder_.empty();
            clearing = clearDeferred_ && fileSound && !clearFailed;
            clearDeferred_ = clearDeferred_ && !clearing;
            const bool compactDue = mayCompact && fileSound &&
                                    (file_.indexSize() > size_t(maxCount) + compactionSlack ||
                                     file_.exceedsCompactionSize());
            if (clearing)
                keep = uint32_t(history_.size());  // only what came after the clear stays
            if (!clearing && !compactDue) {
                committing_ = false;
                commitEnded_.notify_all();
                return;
            }
        }
        if (clearing && !recordClearedStart()) {
            // Left for the next commit; until then a restart brings the history back.
            AutoLock guard(lock_);
            clearDeferred_ = clearFailed = true;
        } else {
            compactOutsideLock(keep);
        }
        mayCompact = false;
    }
}

bool CommonTrainingDb::recordClearedStart() {
    TrainingDbOptions start;
    std::string path;
    {
        AutoLock guard(lock_);
        start = startAt(historyBase_, 0);
        path = folder_ + kOptionsFileName;
    }
    return start.write(path);
}

// Compacting copies the whole file: the copy, its sync, the options file and the rename
// happen without the lock, and the file itself does not change meanwhile (committing_).
void CommonTrainingDb::compactOutsideLock(uint32_t maxCount) {
    DescriptorFile::Compaction plan;
    std::string optionsPath, endPath;
    {
        AutoLock guard(lock_);
        if (!file_.planCompaction(maxCount, plan))
            return;
        optionsPath = folder_ + kOptionsFileName;
        endPath = folder_ + kEndFileName;
    }
    if (!DescriptorFile::copyForCompaction(plan)) {
        DescriptorFile::abandonCompaction(plan);
        return;
    }
    TrainingDbOptions options;
    uint64_t generation = 0;
    size_t dropped = 0;
    {
        AutoLock guard(lock_);
        generation = generation_;
        // History entries of dropped records leave the history as if trimmed (only a size
        // compaction drops such records).
        const auto kept =
            std::lower_bound(history_.begin(), history_.end(), uint32_t(plan.keepFrom));
        dropped = size_t(kept - history_.begin());
        options = startAt(historyBase_ + uint32_t(dropped), dropped);
    }
    // Which file the start belongs to is told by the copy's inode, so a crash on either
    // side of the rename finds the start that fits the file in place.
    options.pendingShift = uint32_t(plan.keepFrom);
    options.shiftedFileId = plan.newFileId;
    const bool recorded = options.write(optionsPath);
    const bool placed = recorded && DescriptorFile::placeCompaction(plan);
    // The copy is synced whole; until its end is recorded, the end file names the old
    // file and says nothing about this one.
    const TrainingDbEnd copyEnd{plan.newFileId, uint64_t(plan.keptEnd - plan.keepFrom)};
    const bool endRecorded = placed && copyEnd.write(endPath);

    AutoLock guard(lock_);
    if (generation == generation_) {
        // Right whichever options file survives: the dropped records are still in the old
        // file, and the indexes before the new base stay unused.
        historyBase_ += uint32_t(dropped);
        history_.erase(history_.begin(), history_.begin() + std::ptrdiff_t(dropped));
    }
    if (!placed) {
        DescriptorFile::abandonCompaction(plan);
        return;
    }
    file_.finishCompaction(plan);
    recordedEnd_ = endRecorded ? copyEnd : TrainingDbEnd{};
    for (uint32_t& offset : history_)
        offset -= uint32_t(plan.keepFrom);
    clearedAt_ = std::max<int64_t>(0, clearedAt_ - plan.keepFrom);
}
