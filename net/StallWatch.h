#pragma once

#include <cstdint>
#include <list>

class Session;

// The connections that owe the server bytes (the rest of a request) or owe
// themselves bytes (an answer they do not read), ordered by their last progress.
// Every connection shares one time-out, so the oldest entry is always the first to
// run out: the I-O thread sleeps exactly until then, and touching an entry is O(1).
// Used by the I-O thread only.
class StallWatch {
  public:
    explicit StallWatch(uint32_t timeoutMs = 60000) : timeoutMs_(timeoutMs) {}

    void setTimeout(uint32_t timeoutMs) { timeoutMs_ = timeoutMs; }
    // Records the session's state after the I-O thread served it: watched while
    // waitingOnPeer, its clock restarted whenever progress moved on.
    void update(Session* session, bool waitingOnPeer, uint64_t progress, int64_t nowMs);
    void forget(Session* session);
    // Milliseconds until the oldest entry runs out; -1 when nothing is watched.
    int waitMs(int64_t nowMs) const;
    // The oldest entry if it has run out (it is then forgotten), else none.
    Session* takeOverdue(int64_t nowMs);
    void clear() { watched_.clear(); }

    static int64_t nowMs();

  private:
    std::list<Session*> watched_;
    uint32_t timeoutMs_;
};
