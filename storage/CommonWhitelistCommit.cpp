// Group commit of the common whitelist: pushes are applied in memory as they come and
// one save makes all of them durable. The save's disk writes run without the store's
// lock, so pulls go on meanwhile, answering from the last durable state. Most saves only
// append the group's records to the history file.
//
// The order of the file steps is what keeps acknowledged changes through a crash at any
// moment: a key file is only ever put in place for a state whose changes the history file
// on disk already holds, and a trimmed history only after the key file that covers what
// it no longer holds.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/FileOps.h"
#include "storage/CommonWhitelist.h"
#include "storage/HistoryEndRecord.h"

namespace {

bool writeAllAt(int fd, uint64_t offset, const uint8_t* data, size_t size) {
    if (::lseek(fd, off_t(offset), SEEK_SET) != off_t(offset))
        return false;
    while (size > 0) {
        const ssize_t written = fileOps().writeFd(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Puts bytes over the history file's trailer at offset and syncs. On failure the old
// trailer goes back and the file is cut to its old end; cutBack tells whether that held.
bool appendToHistory(const std::string& path, uint64_t offset, const std::string& bytes,
                     bool& cutBack) {
    cutBack = true;
    const int fd = fileOps().open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    uint8_t oldTrailer[CommonWhitelist::kHistoryTrailerSize];
    if (::pread(fd, oldTrailer, sizeof oldTrailer, off_t(offset)) != off_t(sizeof oldTrailer)) {
        ::close(fd);
        return false;
    }
    const bool ok =
        writeAllAt(fd, offset, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) &&
        fileOps().sync(fd) == 0;
    if (!ok) {
        cutBack = writeAllAt(fd, offset, oldTrailer, sizeof oldTrailer) &&
                  fileOps().truncate(fd, off_t(offset + sizeof oldTrailer)) == 0 &&
                  fileOps().sync(fd) == 0;
    }
    ::close(fd);
    return ok;
}

}  // namespace

void CommonWhitelist::openGroupLocked() {
    if (!pending_) {
        pending_ = true;
        durableMark_ = mark();
    }
}

void CommonWhitelist::awaitNoGroupLocked() {
    // The committer's group is applied and committed on its own thread; a caller that
    // took part of it over would end it behind the committer's back.
    while (pending_ || committing_)
        groupEnded_.wait(lock_);
}

bool CommonWhitelist::applyPending(const HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock lock(lock_);
    openGroupLocked();
    if (unsound_)
        return false;
    const Mark before = mark();
    if (!applyLocked(body)) {
        undoSince(before);
        return false;
    }
    if (body.length() >= WhitelistChange::kSize)
        newIndex = endLocked();
    return true;
}

bool CommonWhitelist::historyFileEndKnownLocked() const {
    return historyFile_.bytes >= 4 + kHistoryTrailerSize && historyFile_.end >= historyBase_ &&
           historyFile_.end - historyBase_ <= history_.size();
}

CommonWhitelist::CommitPlan CommonWhitelist::planCommitLocked(const std::string& folder,
                                                              uint32_t maxHistory, bool rewrite,
                                                              bool wholeRequired) {
    CommitPlan plan;
    plan.folder = folder;
    plan.number = saveNumber_ + 1;
    plan.generation = generation_;
    plan.historyBefore = historyFile_;
    const bool endKnown = historyFileEndKnownLocked();
    // Whatever memory holds beyond the history file: the group, and any change made
    // without a commit (all of memory's history, for a save, when the file's end is not known).
    const size_t from = endKnown        ? historyFile_.end - historyBase_
                        : wholeRequired ? 0
                                        : std::min(durableMark_.size, history_.size());
    plan.records = history_.size() - from;
    plan.group = !wholeRequired;
    rewrite = rewrite || !endKnown ||
              appendedRecords_ + plan.records > std::max<size_t>(maxHistory, kAppendLimit);
    if (endKnown && plan.records > 0) {
        // The group reaches the history file first: from then on a load has it, whatever
        // becomes of the rewrite that may follow.
        plan.steps.push_back(Step::appendGroup);
        plan.offset = historyFile_.bytes - kHistoryTrailerSize;
        plan.appended = encodeGroupLocked(from, plan.number, plan.afterAppend);
        plan.endBefore =
            Storage::HistoryEndRecord{historyFile_.number, plan.offset, historyFile_.crc};
        plan.endRecorded = endRecordedKnown_ && endRecorded_ == plan.endBefore;
    }
    uint32_t historyLimit = maxHistory;
    if (rewrite) {
        if (endKnown || historyBase_ != 0) {
            // Keys first: the history file on disk holds every change they carry (or, when
            // its end is unknown, they are newer than it and stand on their own), and a
            // trimmed history must not be in place before keys that cover what it dropped.
            plan.steps.push_back(Step::replaceKeys);
            plan.steps.push_back(Step::replaceHistory);
        } else {
            // Memory's history goes back to a clear, so written whole it alone tells the
            // keys, and it goes first: a crash before the keys follow loads the right state.
            historyLimit = UINT32_MAX;
            plan.steps.push_back(Step::replaceHistory);
            plan.steps.push_back(Step::replaceKeys);
        }
    }
    // Until the group is in the history file, the commit has not happened.
    const auto groupIn =
        std::find(plan.steps.begin(), plan.steps.end(),
                  plan.steps.empty() || plan.steps[0] != Step::appendGroup ? Step::replaceHistory
                                                                           : Step::appendGroup);
    plan.needed = wholeRequired       ? plan.steps.size()
                  : plan.records == 0 ? 0
                                      : size_t(groupIn - plan.steps.begin()) + 1;
    if (rewrite) {
        plan.keysFile = std::make_unique<AtomicFileWriter>(folder + kKeysFileName);
        plan.historyFile = std::make_unique<AtomicFileWriter>(folder + kHistoryFileName);
        // Writing fills the page cache only; the syncs come after the lock.
        if (!writeKeysLocked(*plan.keysFile, plan.number) ||
            !writeHistoryLocked(*plan.historyFile, historyLimit, plan.number, plan.written)) {
            // Nothing of a rewrite that cannot be written is done; an append alone still
            // makes the group durable.
            plan.steps.resize(plan.steps.size() - 2);
            const bool appendSuffices = !plan.steps.empty() && !wholeRequired;
            plan.needed = appendSuffices ? 1 : plan.steps.size() + 1;
        }
    }
    committing_ = true;
    return plan;
}

CommonWhitelist::CommitOutcome CommonWhitelist::carryOut(CommitPlan& plan) {
    CommitOutcome outcome;
    outcome.historyEnd = plan.historyBefore;
    for (Step step : plan.steps) {
        bool ok = false, changed = false;
        if (step == Step::appendGroup) {
            // The group goes over the trailer that tells where the file is whole; should
            // the append be torn, the end recorded first still tells.
            if (!plan.endRecorded) {
                outcome.endWriteTried = true;
                outcome.endWritten = plan.endBefore.write(plan.folder + kHistoryEndFileName);
            }
            bool cutBack = true;
            ok = (plan.endRecorded || outcome.endWritten) &&
                 appendToHistory(plan.folder + kHistoryFileName, plan.offset, plan.appended,
                                 cutBack);
            changed = !cutBack;
        } else {
            AtomicFileWriter& file = step == Step::replaceKeys ? *plan.keysFile : *plan.historyFile;
            ok = file.commit();
            changed = file.replacedTarget();
        }
        if (ok && step == Step::appendGroup)
            outcome.historyEnd = plan.afterAppend;
        else if (ok && step == Step::replaceHistory)
            outcome.historyEnd = plan.written;
        else if (changed && step != Step::replaceKeys)
            outcome.historyEnd = HistoryImage{};  // whatever is at the path, it is not known
        if (!ok) {
            outcome.touchedFiles = changed;
            return outcome;
        }
        outcome.keysReplaced = outcome.keysReplaced || step == Step::replaceKeys;
        ++outcome.done;
    }
    return outcome;
}

bool CommonWhitelist::finishCommitLocked(const CommitPlan& plan, const CommitOutcome& outcome,
                                         uint32_t maxHistory) {
    committing_ = false;
    if (outcome.endWriteTried) {
        endRecorded_ = plan.endBefore;
        endRecordedKnown_ = outcome.endWritten;
    }
    if (plan.group)
        pending_ = false;  // a save or clear leaves a group that opened meanwhile to its commit
    groupEnded_.notify_all();
    saveNumber_ = plan.number;  // some file may carry it now: the next save numbers above
    const bool ok = outcome.done >= plan.needed;
    if (plan.generation != generation_)
        return ok;  // cleared meanwhile: memory holds none of the saved changes any more
    historyFile_ = outcome.historyEnd;
    if (outcome.keysReplaced)
        appendedRecords_ = 0;
    else if (outcome.done > 0 && plan.steps[0] == Step::appendGroup)
        appendedRecords_ += plan.records;
    if (ok) {
        historyBase_ += static_cast<uint32_t>(history_.trimTo(maxHistory));
        return true;
    }
    // Nothing of a step that failed before touching a file is on disk. A commit's group
    // is taken back, so nothing of it may be on disk; a save keeps memory as it is, so
    // the files hold it once its history is in the history file (or it had nothing new).
    const bool untouched = outcome.done == 0 && !outcome.touchedFiles;
    bool filesHoldMemory = untouched;
    if (plan.group) {
        undoSince(durableMark_);
    } else {
        const bool historyIn = outcome.done > 0 && (plan.steps[0] == Step::appendGroup ||
                                                    plan.steps[0] == Step::replaceHistory);
        filesHoldMemory = untouched || historyIn || (plan.records == 0 && !unsound_);
    }
    unsound_ = unsound_ || !filesHoldMemory;
    return false;
}

bool CommonWhitelist::rewriteAll(const std::string& folder, uint32_t maxHistory) {
    CommitPlan plan = planCommitLocked(folder, maxHistory, true, true);
    lock_.Unlock();
    const CommitOutcome outcome = carryOut(plan);
    lock_.Lock();
    const bool ok = finishCommitLocked(plan, outcome, maxHistory);
    if (ok)
        unsound_ = false;
    return ok;
}

bool CommonWhitelist::repairFilesLocked(const std::string& folder) {
    historyFile_ = HistoryImage{};  // neither file is trusted: both are written anew
    return rewriteAll(folder, UINT32_MAX);
}

bool CommonWhitelist::commitPending(const std::string& folder, uint32_t maxHistory,
                                    bool appendOnly) {
    AutoLock lock(lock_);
    while (committing_)  // a clear writing the emptied store
        groupEnded_.wait(lock_);
    openGroupLocked();
    if (unsound_) {
        // Every push of the group was refused. Once the files can be written whole again,
        // the store takes pushes again.
        pending_ = false;
        groupEnded_.notify_all();
        repairFilesLocked(folder);
        return false;
    }
    CommitPlan plan = planCommitLocked(folder, maxHistory, !appendOnly, false);
    lock_.Unlock();
    const CommitOutcome outcome = carryOut(plan);
    lock_.Lock();
    if (finishCommitLocked(plan, outcome, maxHistory))
        return true;
    // The files may keep a change that clients are told failed: write memory's state
    // anew; if that fails too, pushes are refused until a rewrite or a load succeeds.
    if (unsound_)
        repairFilesLocked(folder);
    return false;
}

void CommonWhitelist::recordEndAhead(const std::string& folder) {
    Storage::HistoryEndRecord end;
    {
        AutoLock lock(lock_);
        if (committing_ || unsound_ || !historyFileEndKnownLocked())
            return;
        end = Storage::HistoryEndRecord{historyFile_.number,
                                        historyFile_.bytes - kHistoryTrailerSize, historyFile_.crc};
        if (endRecordedKnown_ && endRecorded_ == end)
            return;
        // Nothing appends while the record is being written; pulls and pushes in memory go on.
        committing_ = true;
    }
    const bool written = end.write(folder + kHistoryEndFileName);
    AutoLock lock(lock_);
    committing_ = false;
    endRecorded_ = end;
    endRecordedKnown_ = written;
    groupEnded_.notify_all();
}

bool CommonWhitelist::save(const std::string& folder, uint32_t maxHistory) {
    AutoLock lock(lock_);
    awaitNoGroupLocked();
    if (unsound_)
        return repairFilesLocked(folder);
    if (rewriteAll(folder, maxHistory))
        return true;
    if (unsound_)
        repairFilesLocked(folder);
    return false;
}
