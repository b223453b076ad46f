#pragma once

#include <cstdint>
#include <list>

class Session;

// The connections that owe the server bytes (the rest of a request) or owe
// themselves bytes (an answer they do not read), ordered by their last progress.
// Every connection shares one time-out, so the oldest entry is always the first to
// run out: the I-O thread sleeps exactly until then, and touching an entry is O(1).
// A reader of an answer must also keep up a minimum rate: each byte it takes moves its
// clock on by only 1/rate seconds, so a client that reads a byte now and then falls
// behind and runs out like a silent one. Used by the I-O thread only.
class StallWatch {
  public:
    explicit StallWatch(uint32_t timeoutMs = 60000) : timeoutMs_(timeoutMs) {}

    void setTimeout(uint32_t timeoutMs) { timeoutMs_ = timeoutMs; }
    // Bytes per second a reader of an answer must take; 0 lets any progress do.
    void setMinDrainRate(uint32_t bytesPerSecond) { minDrainRate_ = bytesPerSecond; }
    // Records the session's state after the I-O thread served it: watched while
    // waitingOnPeer, its clock restarted whenever progress moved on, or while draining
    // an answer, moved on by what the progress earned at the minimum rate.
    void update(Session* session, bool waitingOnPeer, bool draining, uint64_t progress,
                int64_t nowMs);
    void forget(Session* session);
    // Milliseconds until the oldest entry runs out; -1 when nothing is watched.
    int waitMs(int64_t nowMs) const;
    // The oldest entry if it has run out (it is then forgotten), else none.
    Session* takeOverdue(int64_t nowMs);
    void clear() { watched_.clear(); }

    static int64_t nowMs();

  private:
    // Lists the session by its clock, from the back: a clock moved on by earned time
    // may be older than the newest entries.
    void insert(Session* session, int64_t sinceMs);

    std::list<Session*> watched_;
    uint32_t timeoutMs_;
    uint32_t minDrainRate_ = 0;
};
