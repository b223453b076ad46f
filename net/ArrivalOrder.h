#pragma once

#include <cstdint>
#include <list>
#include <utility>

class Session;

// Where a session stands in one ArrivalOrder; owned by the session.
struct ArrivalPlace {
    bool listed = false;
    std::list<std::pair<Session*, int64_t>>::iterator position;
};

// Sessions in the order in which they entered a state (waiting for their first request,
// idle between requests), each with the time it entered. Entering, leaving and finding
// the oldest are O(1), so the I-O thread can keep these lists on every event.
class ArrivalOrder {
  public:
    // Lists the session at the end; one already listed keeps its place and time.
    void add(Session* session, ArrivalPlace& place, int64_t nowMs) {
        if (place.listed)
            return;
        place.position = entries_.insert(entries_.end(), {session, nowMs});
        place.listed = true;
    }
    void remove(ArrivalPlace& place) {
        if (!place.listed)
            return;
        entries_.erase(place.position);
        place.listed = false;
    }
    // The longest-listed session, or none.
    Session* oldest() const { return entries_.empty() ? nullptr : entries_.front().first; }
    int64_t oldestSinceMs() const { return entries_.empty() ? 0 : entries_.front().second; }
    size_t size() const { return entries_.size(); }
    // Only once every listed session is gone: their places still say listed.
    void clear() { entries_.clear(); }

  private:
    std::list<std::pair<Session*, int64_t>> entries_;
};
