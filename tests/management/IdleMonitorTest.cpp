#include "apps/VantorSyncSvc/IdleMonitor.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/Event.h"

using namespace std::chrono_literals;

// Fires only after the count has stayed at zero (it starts there), and fires once. Waits use
// generous limits; nothing here measures speed.
TEST(IdleMonitorTest, FiresOnceAfterTheLastClientLeft) {
    Event idle;
    std::atomic<int> fired{0};
    IdleMonitor monitor(50ms, [&] {
        ++fired;
        idle.set();
    });
    monitor.clientCountChanged(2);
    monitor.clientCountChanged(0);
    ASSERT_TRUE(idle.wait(30000));
    EXPECT_EQ(fired, 1);
}

TEST(IdleMonitorTest, FiresWhenNoClientEverCame) {
    Event idle;
    IdleMonitor monitor(20ms, [&] { idle.set(); });
    EXPECT_TRUE(idle.wait(30000));
}

TEST(IdleMonitorTest, AClientBeforeTheFirstDelayKeepsItWaiting) {
    std::atomic<int> fired{0};
    {
        IdleMonitor monitor(1h, [&] { ++fired; });
        monitor.clientCountChanged(1);
    }
    EXPECT_EQ(fired, 0);
    Event idle;
    IdleMonitor monitor(20ms, [&] { idle.set(); });
    monitor.clientCountChanged(1);
    EXPECT_FALSE(idle.wait(200));
}

TEST(IdleMonitorTest, ReturningClientCancelsThePendingEnd) {
    std::atomic<int> fired{0};
    {
        // A delay far longer than the test: the end can only come from a bug.
        IdleMonitor monitor(1h, [&] { ++fired; });
        monitor.clientCountChanged(0);
        monitor.clientCountChanged(1);
    }
    EXPECT_EQ(fired, 0);

    Event idle;
    IdleMonitor monitor(20ms, [&] { idle.set(); });
    monitor.clientCountChanged(0);
    monitor.clientCountChanged(1);
    EXPECT_FALSE(idle.wait(200));
    monitor.clientCountChanged(0);
    EXPECT_TRUE(idle.wait(30000));
}

TEST(IdleMonitorTest, DestroyingAWaitingMonitorDoesNotFire) {
    std::atomic<int> fired{0};
    {
        IdleMonitor monitor(1h, [&] { ++fired; });
    }
    EXPECT_EQ(fired, 0);
}
