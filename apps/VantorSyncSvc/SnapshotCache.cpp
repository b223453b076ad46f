#include "apps/VantorSyncSvc/SnapshotCache.h"

#include <utility>

bool SnapshotCache::answer(CommonWhitelist& store, uint32_t startIndex, Answer& body,
                           uint32_t& newIndex) {
    const CommonWhitelist::ServedState before = store.servedState();
    if (startIndex >= before.historyBase)
        return false;
    {
        AutoLock guard(lock_);
        if (snapshot_ != nullptr && state_ == before) {
            body = snapshot_;
            newIndex = before.end;
            return true;
        }
    }
    // Built without the cache's lock, so that a committer dropping a stale snapshot does
    // not wait for the store to write a new one.
    HTTPParser::IOB bytes;
    if (!store.getUpdates(startIndex, bytes, newIndex)) {
        body = nullptr;
        return true;
    }
    body = std::make_shared<const HTTPParser::SharedAnswer>(std::move(bytes));
    // The store answered for the state it was in at that moment, which may have moved on
    // since `before` (a clear even ends the snapshot case). Within one clear generation
    // the served end only grows, so an unchanged state after the build is the state the
    // snapshot shows; anything else is answered once and not kept.
    if (store.servedState() != before || newIndex != before.end)
        return true;
    Answer replaced;
    {
        AutoLock guard(lock_);
        replaced = std::exchange(snapshot_, body);
        state_ = before;
    }
    return true;
}

void SnapshotCache::dropStale(CommonWhitelist& store) {
    const CommonWhitelist::ServedState now = store.servedState();
    Answer stale;
    {
        AutoLock guard(lock_);
        if (snapshot_ != nullptr && state_ != now)
            stale = std::move(snapshot_);
    }
    // Freed here, after the lock: a large block goes back to the system.
}
