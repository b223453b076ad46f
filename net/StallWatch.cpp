#include "net/StallWatch.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <iterator>

#include "net/Session.h"

void StallWatch::update(Session* session, bool waitingOnPeer, bool draining, uint64_t progress,
                        int64_t nowMs) {
    if (!waitingOnPeer) {
        forget(session);
    } else if (!session->watchedForStall) {
        insert(session, nowMs);
    } else if (progress != session->seenProgress) {
        int64_t since = nowMs;
        if (draining && minDrainRate_ > 0) {
            const uint64_t earned = (progress - session->seenProgress) * 1000 / minDrainRate_;
            since = std::min<int64_t>(
                nowMs, session->lastProgressMs + int64_t(std::min<uint64_t>(earned, INT32_MAX)));
        }
        forget(session);
        insert(session, since);
    }
    session->seenProgress = progress;
}

void StallWatch::insert(Session* session, int64_t sinceMs) {
    auto position = watched_.end();
    while (position != watched_.begin() && (*std::prev(position))->lastProgressMs > sinceMs)
        --position;
    session->lastProgressMs = sinceMs;
    session->stallPosition = watched_.insert(position, session);
    session->watchedForStall = true;
}

void StallWatch::forget(Session* session) {
    if (!session->watchedForStall)
        return;
    watched_.erase(session->stallPosition);
    session->watchedForStall = false;
}

int StallWatch::waitMs(int64_t nowMs) const {
    if (watched_.empty())
        return -1;
    int64_t due = watched_.front()->lastProgressMs + int64_t(timeoutMs_) - nowMs;
    return due <= 0 ? 0 : static_cast<int>(due < INT_MAX ? due : INT_MAX);
}

Session* StallWatch::takeOverdue(int64_t nowMs) {
    if (watched_.empty())
        return nullptr;
    Session* oldest = watched_.front();
    if (nowMs - oldest->lastProgressMs < int64_t(timeoutMs_))
        return nullptr;
    forget(oldest);
    return oldest;
}

int64_t StallWatch::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
