// Group commit of the common whitelist: pushes are applied in memory as they come and
// one save makes all of them durable. The save's disk writes run without the store's
// lock, so pulls go on meanwhile, answering from the last durable state.
#include <algorithm>

#include "storage/CommonWhitelist.h"

bool CommonWhitelist::applyPending(const HTTPParser::IOB& body, uint32_t& newIndex) {
    AutoLock lock(lock_);
    if (!pending_) {
        pending_ = true;
        durableMark_ = mark();
    }
    const Mark before = mark();
    if (!applyLocked(body)) {
        undoSince(before);
        return false;
    }
    if (body.length() >= WhitelistChange::kSize)
        newIndex = endLocked();
    return true;
}

bool CommonWhitelist::commitPending(const std::string& folder, uint32_t maxHistory) {
    AtomicFileWriter keysFile(folder + kKeysFileName);
    AtomicFileWriter historyFile(folder + kHistoryFileName);
    uint64_t number, generation;
    bool ok;
    {
        // Writing the files fills the page cache only; the syncs come after the lock.
        AutoLock lock(lock_);
        if (!pending_) {
            pending_ = true;
            durableMark_ = mark();
        }
        number = saveNumber_ + 1;
        generation = generation_;
        ok = writeFilesLocked(keysFile, historyFile, maxHistory, number);
    }
    bool savedOver = false;
    ok = ok && replaceFiles(keysFile, historyFile, savedOver);

    AutoLock lock(lock_);
    if (ok)
        saveNumber_ = number;
    pending_ = false;
    if (generation != generation_)
        return ok;  // cleared meanwhile: memory holds none of the saved changes any more
    if (!ok) {
        undoSince(durableMark_);
        // A rename went through but may not last: the files must not keep a change that
        // clients are told failed.
        if (savedOver) {
            bool ignored = false;
            saveLocked(folder, UINT32_MAX, ignored);
        }
        return false;
    }
    historyBase_ += static_cast<uint32_t>(history_.trimTo(maxHistory));
    return true;
}
