// Group commit of the common training database: pushes append their records as they
// come and one sync makes all of them durable; the sync runs without the store's lock,
// so pulls go on meanwhile, answering from the last durable state.
#include <unistd.h>

#include <algorithm>

#include "platform/FileOps.h"
#include "storage/CommonTrainingDb.h"

bool CommonTrainingDb::applyPending(const HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock guard(lock_);
    if (!pending_) {
        pending_ = true;
        groupBroken_ = false;
        durableSize_ = history_.size();
        file_.beginChanges(true);
    }
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
    int descriptor = -1;
    {
        AutoLock guard(lock_);
        if (!pending_) {
            pending_ = true;
            groupBroken_ = false;
            durableSize_ = history_.size();
            file_.beginChanges(true);
        }
        if (!groupBroken_)
            descriptor = file_.flushForSync();
    }
    bool ok = descriptor >= 0 && fileOps().sync(descriptor) == 0;
    if (descriptor >= 0)
        ::close(descriptor);

    AutoLock guard(lock_);
    const bool cleared = clearDeferred_;
    // Durable before the trim records a new start: the trim may name pushed records. Each
    // trim syncs the options file, so the history may first run trimSlack past maxSize.
    const bool trimNow = history_.size() > size_t(maxSize) + trimSlack;
    ok = ok && (cleared || !trimNow || trimLocked(maxSize));
    if (!ok) {
        // A trim that failed changed nothing, so the history ends where the group began.
        file_.rollbackChanges();
        if (!cleared)
            history_.resize(std::min(durableSize_, history_.size()));
    }
    file_.endChanges();
    pending_ = false;
    clearDeferred_ = false;
    if (cleared) {
        clearLocked();
        return ok;
    }
    // The pushes stand whatever becomes of the compaction, which only saves space. The
    // index file is not written per push: a load rebuilds the index from the records,
    // and a flush saves it.
    // Dropping the records beyond the count copies the whole file, so it may wait for
    // compactionSlack more fingerprints (the history is trimmed to maxSize all the same;
    // only the file holds more meanwhile).
    if (ok &&
        (file_.indexSize() > size_t(maxSize) + compactionSlack || file_.exceedsCompactionSize()))
        compactLocked(maxSize);
    return ok;
}
