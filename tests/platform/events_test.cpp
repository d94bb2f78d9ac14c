// The time-ordered event queue: sorting on insertion, the 256-event limit and
// the deadline of vrak_next_event.
#include "platform/vrak.h"

#include <gtest/gtest.h>

#include <vector>

static VrakTime ms(long milliseconds)
{
    return VrakTime{milliseconds / 1000, milliseconds % 1000 * 1000};
}

class EventQueueTest : public testing::Test
{
  protected:
    void SetUp() override { vrak_clear_events(); }
    void TearDown() override { vrak_clear_events(); }

    std::vector<int> drain()
    {
        std::vector<int> codes;
        VrakEvent e;
        while (vrak_poll_event(nullptr, &e))
            codes.push_back(e.code);
        return codes;
    }
};

TEST_F(EventQueueTest, EventsComeOutInTimeOrder)
{
    // Late arrivals from another source, and equal times keeping arrival order.
    vrak_post_event(1, true, ms(100));
    vrak_post_event(2, true, ms(300));
    vrak_post_event(3, false, ms(200));
    vrak_post_event(4, true, ms(50));
    vrak_post_event(5, true, ms(300));
    vrak_post_event(6, true, ms(200));

    VrakEvent e;
    ASSERT_TRUE(vrak_poll_event(nullptr, &e));
    EXPECT_EQ(e.code, 4);
    EXPECT_TRUE(e.pressed);
    EXPECT_EQ(e.time.seconds, 0);
    EXPECT_EQ(e.time.micros, 50000);
    EXPECT_EQ(drain(), (std::vector<int>{1, 3, 6, 2, 5}));
}

TEST_F(EventQueueTest, FullQueueDropsNewEvents)
{
    int accepted = 0;
    for (int i = 0; i < 300; i++)
        accepted += vrak_post_event(i, true, ms(1000 + i));
    EXPECT_EQ(accepted, VRAK_EVENT_QUEUE_SIZE);
    // An earlier event does not push a later one out either.
    EXPECT_FALSE(vrak_post_event(999, true, ms(0)));

    std::vector<int> codes = drain();
    ASSERT_EQ(codes.size(), 256u);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(codes[i], i);
}

TEST_F(EventQueueTest, SortingHoldsAcrossTheRingsWrap)
{
    // Move the head near the end of the ring, then fill past the wrap with
    // events that arrive in reverse order.
    for (int i = 0; i < 250; i++)
        vrak_post_event(i, true, ms(i));
    for (int i = 0; i < 250; i++)
        ASSERT_TRUE(vrak_poll_event(nullptr, nullptr));
    for (int i = 0; i < 20; i++)
        vrak_post_event(100 + i, true, ms(5000 - i));
    std::vector<int> codes = drain();
    ASSERT_EQ(codes.size(), 20u);
    for (int i = 0; i < 20; i++)
        EXPECT_EQ(codes[i], 119 - i);
}

TEST_F(EventQueueTest, NextEventWaitsForItsTime)
{
    vrak_post_event(7, true, VrakTime{2, 500000});
    vrak_post_event(8, false, VrakTime{3, 0});

    VrakEvent e;
    EXPECT_FALSE(vrak_next_event(nullptr, VrakTime{2, 499999}, &e));
    ASSERT_TRUE(vrak_next_event(nullptr, VrakTime{2, 500000}, &e));
    EXPECT_EQ(e.code, 7);
    EXPECT_FALSE(vrak_next_event(nullptr, VrakTime{2, 999999}, &e));
    ASSERT_TRUE(vrak_next_event(nullptr, VrakTime{10, 0}, &e));
    EXPECT_EQ(e.code, 8);
    EXPECT_FALSE(e.pressed);
    EXPECT_FALSE(vrak_next_event(nullptr, VrakTime{10, 0}, &e));
}

TEST(ClockTest, ConversionsAndHooks)
{
    VrakTime t = vrak_seconds_to_time(3723.45);
    EXPECT_EQ(t.seconds, 3723);
    EXPECT_EQ(t.micros, 450000);
    EXPECT_DOUBLE_EQ(vrak_time_to_seconds(VrakTime{2, 250000}), 2.25);
    t = vrak_seconds_to_time(-0.25);
    EXPECT_EQ(t.seconds, -1);
    EXPECT_EQ(t.micros, 750000);

    static long slept_micros;
    slept_micros = 0;
    vrak_set_clock_hooks(
        [] {
            return VrakTime{42, 7};
        },
        [](long s, long us) { slept_micros += s * 1000000 + us; });
    t = vrak_clock();
    vrak_sleep(1, 500);
    vrak_set_clock_hooks(nullptr, nullptr);
    EXPECT_EQ(t.seconds, 42);
    EXPECT_EQ(t.micros, 7);
    EXPECT_EQ(slept_micros, 1000500);

    // The real clock never runs backwards and the real sleep waits at least as long.
    VrakTime before = vrak_clock();
    vrak_sleep(0, 2000);
    VrakTime after = vrak_clock();
    EXPECT_GE(vrak_time_to_seconds(after) - vrak_time_to_seconds(before), 0.002 - 1e-6);
    EXPECT_GE(after.micros, 0);
    EXPECT_LT(after.micros, 1000000);
}
