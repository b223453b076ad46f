#include "net/StallWatch.h"

#include <chrono>
#include <climits>

#include "net/Session.h"

void StallWatch::update(Session* session, bool waitingOnPeer, uint64_t progress, int64_t nowMs) {
    if (!waitingOnPeer) {
        forget(session);
    } else if (!session->watchedForStall || progress != session->seenProgress) {
        forget(session);
        session->lastProgressMs = nowMs;
        session->stallPosition = watched_.insert(watched_.end(), session);
        session->watchedForStall = true;
    }
    session->seenProgress = progress;
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
