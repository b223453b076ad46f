#include "platform/Event.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Event, AutoResetsAfterOneWait) {
    Event event;
    EXPECT_FALSE(event.wait(0));
    event.set();
    EXPECT_TRUE(event.wait(0));
    EXPECT_FALSE(event.wait(0));
}

TEST(Event, WakesWaiterOnAnotherThread) {
    Event event;
    std::thread setter([&] { event.set(); });
    EXPECT_TRUE(event.wait(10000));
    setter.join();
}
