// The stall clock: any progress restarts it for a request on its way in, while the reader
// of an answer must keep up the minimum rate or run out like a silent one.
#include <gtest/gtest.h>

#include "net/Session.h"
#include "net/StallWatch.h"

namespace {

class QuietSession : public Session {
  public:
    QuietSession() : Session(-1, 1, nullptr, "127.0.0.1") {}
    bool onData(const char*, int) override { return true; }
};

struct Trickle {
    const char* what;
    uint32_t minRate;    // bytes per second; 0: none
    bool draining;       // an answer on its way out, not a request on its way in
    uint64_t bytesEach;  // progress every 100 ms
    bool closed;         // within 10 s, at a time-out of 1 s
};

}  // namespace

TEST(StallWatch, ProgressBelowTheMinimumRateRunsOutOnlyForReaders) {
    const Trickle cases[] = {
        {"reader at the rate", 1000, true, 100, false},
        {"reader at a tenth of it", 1000, true, 10, true},
        {"reader of a byte now and then, no rate", 0, true, 1, false},
        {"request trickling in", 1000, false, 1, false},
        {"reader that stops", 1000, true, 0, true},
    };
    for (const Trickle& c : cases) {
        StallWatch watch(1000);
        watch.setMinDrainRate(c.minRate);
        QuietSession session;
        uint64_t progress = 0;
        bool closed = false;
        for (int64_t now = 0; now <= 10000 && !closed; now += 100) {
            watch.update(&session, true, c.draining, progress, now);
            closed = watch.takeOverdue(now) == &session;
            progress += c.bytesEach;
        }
        EXPECT_EQ(c.closed, closed) << c.what;
    }
}
