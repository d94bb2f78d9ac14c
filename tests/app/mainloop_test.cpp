// The main loop driven without a window by a hand-wound clock: frame pacing, the
// per-tick consumption of input events, the control channels and the function keys.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/camera.h"
#include "app/mainloop.h"
#include "app/menus.h"
#include "core/options.h"
#include "core/settings.h"
#include "platform/vrak.h"
#include "race/race.h"
#include "sim/racer.h"
#include "sim/setup.h"

namespace
{

int64_t fake_us;

VrakTime fake_clock()
{
    return VrakTime{(long)(fake_us / 1000000), (long)(fake_us % 1000000)};
}

// Sleeping is what moves the fake clock on, exactly by the time asked for.
void fake_sleep(long seconds, long micros)
{
    fake_us += (int64_t)seconds * 1000000 + micros;
}

enum {
    KEY_W = VRAK_KEY_BASE + 0x11,
    KEY_A = VRAK_KEY_BASE + 0x1E,
    KEY_D = VRAK_KEY_BASE + 0x20,
    KEY_C = VRAK_KEY_BASE + 0x2E,
    KEY_S = VRAK_KEY_BASE + 0x1F,
    KEY_P = VRAK_KEY_BASE + 0x19,
    KEY_O = VRAK_KEY_BASE + 0x18,
    KEY_Q = VRAK_KEY_BASE + 0x10,
    KEY_E = VRAK_KEY_BASE + 0x12,
};

class MainLoopTest : public ::testing::Test
{
  protected:
    Racer racer{};
    std::string home;

    void SetUp() override
    {
        char dir[] = "/tmp/ruttmoor-loop-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        home = dir;
        setenv("HOME", dir, 1);
        setenv("XDG_DATA_HOME", dir, 1);
        setenv("QK_HOME", dir, 1);

        fake_us = 1000 * 1000000LL;
        vrak_set_clock_hooks(fake_clock, fake_sleep);
        vrak_clear_events();
        settings_reset();
        for (int i = 0; i < settings_binding_count(); i++) {
            settings_binding(i)->key_code = 0;
            settings_binding(i)->axis = nullptr;
        }
        Settings &s = settings_edit();
        s.throttle_key.key_code = KEY_W;
        s.left_key.key_code = KEY_A;
        s.right_key.key_code = KEY_D;
        s.clutch_key.key_code = KEY_C;
        s.dab_key.key_code = KEY_S;
        s.pause_key.key_code = KEY_P;
        s.step_key.key_code = KEY_O;
        s.lean_forward_key.key_code = KEY_Q;
        s.upshift_key.key_code = KEY_E;
        startup_options_edit() = StartupOptions{};

        race_clear_slots();
        race_set_track_loaded(true);
        RaceState &race = race_state();
        race.racers[0] = &racer;
        race.kind[0] = LocalRider;
        race.local_slot = 0;
        race.frame = 0;
        race.order_count = 0;
        race.time_trial = false;
        menu_close();
        main_loop_init(nullptr, nullptr, nullptr);
    }

    void TearDown() override
    {
        vrak_set_clock_hooks(nullptr, nullptr);
        vrak_clear_events();
        race_clear_slots();
        race_set_track_loaded(false);
        menu_close();
        std::filesystem::remove_all(home);
    }

    // One pass after a frame that took the given real time; returns the ticks run.
    int frame_us(int64_t micros)
    {
        fake_us += micros;
        double before = main_loop_state().sim_time;
        EXPECT_TRUE(main_loop_pass());
        return (int)std::lround((main_loop_state().sim_time - before) / TICK);
    }

    // A frame of exactly n ticks (n even keeps the fake clock on whole microseconds).
    int frame_ticks(int n) { return frame_us((int64_t)n * 15625 / 2); }

    // Posts an event at the given number of ticks after the end of the last pacing.
    void post(int code, bool pressed, double ticks_after)
    {
        double t = main_loop_state().last_time + ticks_after * TICK;
        ASSERT_TRUE(vrak_post_event(code, pressed, vrak_seconds_to_time(t)));
    }

    void tap(int code)
    {
        post(code, true, 0.2);
        post(code, false, 0.4);
    }
};

TEST_F(MainLoopTest, FramePacingClampsAdvanceAndFillsHistogram)
{
    // 1 s of real time advances only 0.125 s of game time.
    EXPECT_EQ(frame_us(1000000), 16);
    // A 5 ms frame sleeps out the rest of its tick.
    int64_t before = fake_us + 5000;
    frame_us(5000);
    EXPECT_GE(fake_us - before, 2812);
    EXPECT_LE(fake_us - before, 2814);
    EXPECT_NEAR(main_loop_state().last_time, fake_us * 1e-6, 1e-6);
    frame_us(10000);
    frame_us(100000);

    const FrameStats &st = frame_stats();
    int expected[HISTOGRAM_BUCKETS] = {1, 1, 0, 0, 1, 0, 0, 1};
    for (int k = 0; k < HISTOGRAM_BUCKETS; k++)
        EXPECT_EQ(st.histogram[k], expected[k]) << "bucket " << k;
    EXPECT_NEAR(st.shortest_advance, TICK, 1e-6);
    EXPECT_EQ(st.longest_advance, 0.125);
}

TEST_F(MainLoopTest, LockFpsAndWarpFixTheAdvance)
{
    startup_options_edit().lock_fps = 60;
    int total = 0;
    bool saw[4] = {};
    for (int i = 0; i < 60; i++) {
        int n = frame_us(1000);
        ASSERT_TRUE(n == 2 || n == 3) << "frame " << i << " ran " << n;
        saw[n] = true;
        total += n;
    }
    EXPECT_TRUE(saw[2] && saw[3]);
    EXPECT_GE(total, 128);
    EXPECT_LE(total, 129);

    startup_options_edit().lock_fps = 0;
    startup_options_edit().warp = true;
    main_loop_init(nullptr, nullptr, nullptr);
    EXPECT_EQ(frame_us(1000), 100);
}

// The clutch shows the input tick by tick: while the key is held it is pulled in at
// once, after release it lets out 1/32 per tick.
TEST_F(MainLoopTest, EachTickTakesOnlyTheEventsDueByItsDeadline)
{
    // Pressed and released within the first tick: that tick sees the key up.
    post(KEY_C, true, 0.2);
    post(KEY_C, false, 0.4);
    ASSERT_EQ(frame_ticks(4), 4);
    EXPECT_FLOAT_EQ(racer.clutch, 4 / 32.0f);

    // Pressed in the first tick, released in the third: two ticks of letting out.
    post(KEY_C, true, 0.5);
    post(KEY_C, false, 2.5);
    ASSERT_EQ(frame_ticks(4), 4);
    EXPECT_FLOAT_EQ(racer.clutch, 2 / 32.0f);
}

TEST_F(MainLoopTest, ChannelsSumTheirBindings)
{
    bike_setup_edit().reverse_steering.selected = 0;
    post(KEY_A, true, 0.1);
    frame_ticks(2);
    EXPECT_EQ(racer.steer, 1);
    post(KEY_D, true, 0.1);
    frame_ticks(2);
    EXPECT_EQ(racer.steer, 0) << "left and right cancel";
    post(KEY_A, false, 0.1);
    post(KEY_Q, true, 0.1);
    post(KEY_E, true, 0.1);
    frame_ticks(2);
    EXPECT_EQ(racer.steer, -1);
    EXPECT_EQ(racer.lean, -1);
    EXPECT_EQ(racer.shift_request, 1);

    bike_setup_edit().reverse_steering.selected = 1;
    frame_ticks(2);
    EXPECT_EQ(racer.steer, 1);
}

TEST_F(MainLoopTest, AxisAndClutchLaws)
{
    struct {
        int reading;
        float low, high, value;
    } axes[] = {
        {0, 0.0625f, 0.9375f, 0},       {16384, 0.0625f, 0.9375f, 0.5f},
        {32767, 0.0625f, 0.9375f, 1},   {-16384, -0.0625f, -0.9375f, 0.5f},
        {16384, -0.0625f, -0.9375f, 0}, {1000, 0.5f, 0.5f, 0},
    };
    for (const auto &c : axes) {
        SCOPED_TRACE(c.reading);
        EXPECT_NEAR(axis_control_value(c.reading, c.low, c.high), c.value, 1e-5);
    }

    struct {
        float current, channel, result;
    } clutch[] = {
        {0, 0, 1 / 32.0f},                 // letting out is rate limited
        {0.5f, 0.5f, 1 - 0.5f * 8 / 7.0f}, // pulling in is immediate
        {0.99f, 0, 1},                     // stops at the target
        {1, 1, 0},                         // 1 - 8/7 clamps to 0
        {0.2f, 0.1f, 0.2f + 1 / 32.0f},
    };
    for (const auto &c : clutch) {
        SCOPED_TRACE(c.current);
        EXPECT_NEAR(clutch_input(c.current, c.channel), c.result, 1e-6);
    }
}

TEST_F(MainLoopTest, StickyDabLatchesOnEachPress)
{
    bike_setup_edit().sticky_dab.selected = 1;
    const float expected[] = {1, 1, 0, 0, 1};
    for (int i = 0; i < 5; i++) {
        post(KEY_S, i % 2 == 0, 0.1);
        frame_ticks(2);
        EXPECT_EQ(racer.dab, expected[i]) << "step " << i;
    }
    bike_setup_edit().sticky_dab.selected = 0;
    post(KEY_S, true, 0.1);
    frame_ticks(2);
    EXPECT_EQ(racer.dab, 1);
    post(KEY_S, false, 0.1);
    frame_ticks(2);
    EXPECT_EQ(racer.dab, 0);
}

TEST_F(MainLoopTest, PauseStopsTheRaceAndStepWorksOnlyWhilePaused)
{
    RaceState &race = race_state();
    tap(KEY_O);
    frame_ticks(2);
    EXPECT_EQ(race.frame, 2) << "step key ignored while running";

    tap(KEY_P);
    frame_ticks(2);
    EXPECT_TRUE(main_loop_state().paused);
    EXPECT_EQ(race.frame, 2);
    tap(KEY_O);
    frame_ticks(2);
    EXPECT_EQ(race.frame, 3);

    tap(KEY_P);
    frame_ticks(2);
    EXPECT_FALSE(main_loop_state().paused);
    EXPECT_EQ(race.frame, 5);
}

TEST_F(MainLoopTest, MenuFreezesTheRaceOfflineAndQuitScreenQuits)
{
    post(ESC_KEY, true, 0.1);
    post(ESC_KEY, false, 0.2);
    post(KEY_W, true, 0.3);
    frame_ticks(2);
    EXPECT_EQ(menu_current(), MENU_MAIN);
    EXPECT_EQ(race_state().frame, 0);
    EXPECT_EQ(racer.throttle, 0);

    // The window's close button only reaches an open menu.
    post(VRAK_CLOSE, true, 0.1);
    frame_ticks(2);
    EXPECT_FALSE(main_loop_quit_requested());

    tap(ESC_KEY);
    frame_ticks(2);
    EXPECT_EQ(menu_current(), MENU_NONE);
    EXPECT_EQ(race_state().frame, 2);
    EXPECT_EQ(racer.throttle, 1);

    post(VRAK_CLOSE, true, 0.1);
    frame_ticks(2);
    EXPECT_FALSE(main_loop_quit_requested());
    // The first key after the quit screen appears is not taken as the answer.
    menu_open(MENU_QUIT);
    tap(KEY_W);
    frame_ticks(2);
    EXPECT_FALSE(main_loop_quit_requested());
    post(VRAK_CLOSE, true, 0.1);
    frame_ticks(2);
    EXPECT_TRUE(main_loop_quit_requested());
    main_loop_run(); // returns at once
}

TEST_F(MainLoopTest, DigitsChooseTheCamera)
{
    camera_set_choice(3);
    post('0', true, 0.1);
    frame_ticks(2);
    EXPECT_EQ(camera_choice(), -1);

    struct {
        int digit, cameras, choice;
    } cases[] = {{0, 2, -1}, {1, 2, 0}, {5, 2, 1}, {3, 0, -1}, {9, 12, 8}};
    for (const auto &c : cases)
        EXPECT_EQ(camera_choice_for_digit(c.digit, c.cameras), c.choice) << c.digit;
}

TEST(SyncScale, FollowsTheServerClock)
{
    // n = server - local - 1 ticks behind; 64 ticks are 0.5 s.
    struct {
        int server, local, catch_up;
        double scale;
    } cases[] = {
        {1001, 1000, 0, 1.0},    // in step
        {937, 1000, 0, 0.75},    // 0.5 s ahead
        {800, 1000, 0, 0.5},     // more than 1 s ahead: half speed
        {1065, 1000, 2000, 2.5}, // 0.5 s behind while catching up
        {1300, 1000, 2000, 4.0}, // capped at four times
        {1009, 1000, 0, 1.0625}, // 1/16 s behind after catching up
        {1300, 1000, 0, 1.125},  // capped at 12.5 % faster
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.server);
        EXPECT_NEAR(sync_scale(1.0, c.server, c.local, c.catch_up), c.scale, 1e-9);
    }
}

} // namespace
