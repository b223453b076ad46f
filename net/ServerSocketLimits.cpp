#include "net/ServerSocket.h"

#include <algorithm>
#include <climits>

#include "metrics/Metrics.h"
#include "net/Session.h"

// The I-O thread's watch over the connections: which wait for their first request or sit
// idle between requests, which have run out of time, and which make room at the cap.

void ServerSocket::evictIdle(const std::vector<uint32_t>& ids) {
    for (uint32_t id : ids) {
        Session* session = nullptr;
        {
            AutoLock guard(lock_);
            --evictionsPending_;
            auto found = sessionsById_.find(id);
            if (found != sessionsById_.end())
                session = found->second;
        }
        // One that has started a request since it was chosen is served; the new
        // connection then stays beyond the cap until some connection ends.
        if (session == nullptr || session->closing || !session->idleNoted)
            continue;
        Metrics::instance().closedIdleAtCap();
        markForClose(session);
    }
}

void ServerSocket::trackProgress(Session* session) {
    const bool unsent = session->hasUnsentBytes();
    const bool awaiting = session->isAwaitingResponse();
    const bool waitingOnPeer = unsent || (!awaiting && session->hasPartialRequest());
    const int64_t now = StallWatch::nowMs();
    stallWatch_.update(session, waitingOnPeer, unsent, session->progressCount(), now);
    const bool between =
        !unsent && !awaiting && !session->isPeerFinished() && session->isBetweenRequests();
    const bool answered = session->wasAnswered();
    if (session->headPlace.listed && !(between && !answered)) {
        // The first request has begun: from now on the stall time-out watches it.
        AutoLock guard(lock_);
        headsDue_.remove(session->headPlace);
    }
    noteIdle(session, between && answered);
}

void ServerSocket::noteIdle(Session* session, bool idle) {
    if (session->idleNoted == idle)
        return;
    session->idleNoted = idle;
    AutoLock guard(lock_);
    if (idle)
        idle_.add(session, session->idlePlace, StallWatch::nowMs());
    else
        idle_.remove(session->idlePlace);
}

int ServerSocket::nextDeadlineMs(int64_t nowMs) {
    int waitMs = stallWatch_.waitMs(nowMs);
    AutoLock guard(lock_);
    if (headsDue_.oldest() == nullptr)
        return waitMs;
    int64_t due = headsDue_.oldestSinceMs() + activeLimits_.effectiveHeaderTimeoutMs() - nowMs;
    int headMs = due <= 0 ? 0 : static_cast<int>(std::min<int64_t>(due, INT_MAX));
    return waitMs < 0 ? headMs : std::min(waitMs, headMs);
}

void ServerSocket::closeStalledSessions() {
    int64_t now = StallWatch::nowMs();
    // The rest of the request, or the reading of the answer, never came.
    while (Session* stalled = stallWatch_.takeOverdue(now)) {
        Metrics::instance().closedForTimeout();
        markForClose(stalled);
    }
    // Nothing of a first request came: a silent connection only holds a place.
    const int64_t limit = activeLimits_.effectiveHeaderTimeoutMs();
    for (;;) {
        Session* silent = nullptr;
        {
            AutoLock guard(lock_);
            silent = headsDue_.oldest();
            if (silent == nullptr || now - headsDue_.oldestSinceMs() < limit)
                break;
            headsDue_.remove(silent->headPlace);
        }
        if (!silent->closing)
            Metrics::instance().closedForHeaderTimeout();
        markForClose(silent);
    }
}
