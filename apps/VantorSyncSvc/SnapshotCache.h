#pragma once

#include <cstdint>
#include <memory>

#include "http/SharedAnswer.h"
#include "platform/AutoLock.h"
#include "storage/CommonWhitelist.h"

// The whitelist's full snapshot, which every client whose index was trimmed away gets:
// with a million keys it is 9 MB, and after a trim most clients ask for it at once. It is
// built once per state the store serves and shared by every answer until the index moves
// or a clear comes; a state is never answered with another state's snapshot.
class SnapshotCache {
  public:
    using Answer = std::shared_ptr<const HTTPParser::SharedAnswer>;

    // A pull from startIndex that the store answers with its snapshot: true, with the
    // snapshot (null when it cannot be made) and the index after it. False for any other
    // pull, which the caller answers from the store as usual.
    bool answer(CommonWhitelist& store, uint32_t startIndex, Answer& body, uint32_t& newIndex);
    // Lets go of a snapshot the store has moved past, so that it does not stay in memory
    // until the next snapshot pull (any thread).
    void dropStale(CommonWhitelist& store);

  private:
    CriticalSection lock_;
    CommonWhitelist::ServedState state_ GUARDED_BY(lock_);
    Answer snapshot_ GUARDED_BY(lock_);
};
