// The rider's setup: its records and keys, the stability preset, what apply_setup
// writes into a racer (and when it refuses), the setup a racer starts with, and
// gear selection.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "core/common.h"
#include "sim/catalogue.h"
#include "sim/racer.h"
#include "sim/setup.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_home.h"

static const char MECHANIC[] = "Settings not applied.  Mechanic can't keep up error.";

class Setup : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        bike_setup_reset();
        setup_forget_refusals();
        game_clock_reset();
        message_log_clear();
        racer = Racer{};
        racer.model = *find_bike_model("crf450(2013)");
        set_default_racer_setup(&racer);
    }

    int messages_shown() const { return message_log().write_index; }

    LogCapture log;
    Racer racer;
};

TEST_F(Setup, KeysInConfigOrderWithTheirRecords)
{
    ASSERT_EQ(bike_setup_key_count(), 53);
    const char *expected[][2] = {
        {"bike", "Bike"}, {"name", "Name"}, {"number", "Number"},
        {"rider_texture", "Riding Gear"}, {"wheel_texture", "Wheel Graphics"},
        {"stability", "Stability"}, {"restricted_lock", "Restricted Lock Angle"},
        {"arcade", "Arcade Physics"}, {"lean_indicator", "Lean Indicator"},
        {"auto_clutch_rpms", "Auto Clutch RPMs"},
        {"rider_mass_distribution", "Rider Mass Distribution"},
    };
    const int positions[] = {0, 1, 2, 3, 6, 7, 22, 23, 32, 33, 52};
    for (int i = 0; i < (int)(sizeof positions / sizeof positions[0]); i++) {
        SetupKey k = bike_setup_key(positions[i]);
        SCOPED_TRACE(expected[i][0]);
        ASSERT_NE(k.key, nullptr);
        EXPECT_STREQ(k.key, expected[i][0]);
        const char *label = k.number ? k.number->label : k.choice ? k.choice->label
                                                                  : k.text->label;
        EXPECT_STREQ(label, expected[i][1]);
    }
    EXPECT_EQ(bike_setup_key(53).key, nullptr);

    // Every key is found by name, numbers start inside their limits.
    for (int i = 0; i < bike_setup_key_count(); i++) {
        SetupKey k = bike_setup_key(i), found;
        ASSERT_TRUE(find_bike_setup_key(k.key, &found)) << k.key;
        EXPECT_EQ(found.number, k.number);
        EXPECT_EQ(found.choice, k.choice);
        if (k.number) {
            EXPECT_GE(k.number->value, k.number->minimum) << k.key;
            EXPECT_LE(k.number->value, k.number->maximum) << k.key;
            EXPECT_GT(k.number->step, 0) << k.key;
        }
    }
    SetupKey none;
    EXPECT_FALSE(find_bike_setup_key("Stability", &none));
    EXPECT_FALSE(find_bike_setup_key(nullptr, &none));

    const BikeSetup &s = bike_setup();
    EXPECT_STREQ(s.bike.text(), "450sxf(2013)");
    EXPECT_EQ(s.bike.choices.size(), (size_t)BIKE_MODEL_COUNT);
    for (const std::string &name : s.bike.choices)
        EXPECT_NE(find_bike_model(name.c_str()), nullptr) << name;
    EXPECT_STREQ(s.stop_wheelies.text(), "No");
    EXPECT_STREQ(s.front_brake.text(), "Antilock");
    EXPECT_STREQ(s.reverse_steering.text(), "Yes");
    EXPECT_EQ(s.name.text, "Ned Holeshot");
    EXPECT_EQ(s.number.max_length, 3u);
    EXPECT_DOUBLE_EQ(s.max_steering_force.step, 5);
    EXPECT_DOUBLE_EQ(s.rider_mass_distribution.minimum, 0.33);
}

TEST_F(Setup, StabilityPreset)
{
    struct Case {
        double stability;
        double roll_damping, roll_limit_angle, roll_limit_factor, direct_steering;
        double slow_damping_factor, land_damping_falloff, land_damping_factor, restricted_lock;
    };
    const Case cases[] = {
        {0, 40, 90, 0, 1, 1, 0, 1, 45},
        // Halfway between the presets for 40 and 60.
        {50, 65, 42.5, 21, 1, 1.75, 0.25, 2, 7.5},
        {100, 80, 35, 32, 0, 2, 0.25, 2, 5},
        {90, 77.5, 35, 32, 0.5, 2, 0.25, 2, 5},
        {-10, 40, 90, 0, 1, 1, 0, 1, 45},
        {250, 80, 35, 32, 0, 2, 0.25, 2, 5},
        {NAN, 40, 90, 0, 1, 1, 0, 1, 45},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stability);
        apply_stability_preset(c.stability);
        const BikeSetup &s = bike_setup();
        EXPECT_DOUBLE_EQ(s.roll_damping.value, c.roll_damping);
        EXPECT_DOUBLE_EQ(s.roll_limit_angle.value, c.roll_limit_angle);
        EXPECT_DOUBLE_EQ(s.roll_limit_factor.value, c.roll_limit_factor);
        EXPECT_DOUBLE_EQ(s.direct_steering.value, c.direct_steering);
        EXPECT_DOUBLE_EQ(s.slow_damping_factor.value, c.slow_damping_factor);
        EXPECT_DOUBLE_EQ(s.land_damping_falloff.value, c.land_damping_falloff);
        EXPECT_DOUBLE_EQ(s.land_damping_factor.value, c.land_damping_factor);
        EXPECT_DOUBLE_EQ(s.restricted_lock.value, c.restricted_lock);
        EXPECT_DOUBLE_EQ(s.leveling.value, 20);
        EXPECT_DOUBLE_EQ(s.steering_damping.value, 45);
        EXPECT_DOUBLE_EQ(s.steering_strength.value, 75);
        EXPECT_DOUBLE_EQ(s.max_steering_force.value, 400);
        EXPECT_DOUBLE_EQ(s.slow_damping_speed.value, 40);
        EXPECT_DOUBLE_EQ(s.full_lock_speed.value, 10);
        EXPECT_DOUBLE_EQ(s.restricted_lock_speed.value, 50);
    }
}

TEST_F(Setup, DefaultsAtCreation)
{
    const RacerSetup &r = racer.setup;
    EXPECT_DOUBLE_EQ(r.final_ratio, 48.0 / 13);
    EXPECT_DOUBLE_EQ(r.fork_compression, 60);
    EXPECT_DOUBLE_EQ(r.shock_rebound, 650);
    EXPECT_DOUBLE_EQ(r.fork_oil_level, 0.41667);
    EXPECT_DOUBLE_EQ(r.fork_spring_rate, (376.303 + 913.878) / 2);
    EXPECT_DOUBLE_EQ(r.rider_zdamping, 0.5);
    EXPECT_DOUBLE_EQ(r.max_dab_speed, 30);
    EXPECT_DOUBLE_EQ(r.slow_damping_speed, 0);
    EXPECT_NEAR(r.restricted_lock, 0.0872665, 1e-7);
    EXPECT_DOUBLE_EQ(r.roll_limit_angle, M_PI / 4);
    EXPECT_EQ(r.flags, (2 << SETUP_STOP_WHEELIES_SHIFT) | SETUP_FRONT_ANTILOCK |
                           SETUP_AUTO_ALIGN);
    EXPECT_EQ(r.flags2, 0);
}

TEST_F(Setup, AppliedValuesAreConvertedAndClamped)
{
    BikeSetup &s = bike_setup_edit();
    struct Case {
        NumberSetting *setting;
        double value;
        double RacerSetup::*field;
        double expected;
    };
    const double mph = 1.4666667;
    const Case cases[] = {
        {&s.roll_limit_angle, 90, &RacerSetup::roll_limit_angle, M_PI / 2},
        {&s.roll_limit_angle, 400, &RacerSetup::roll_limit_angle, M_PI},
        {&s.restricted_lock, 60, &RacerSetup::restricted_lock, M_PI / 4},
        {&s.roll_limit_factor, 99, &RacerSetup::roll_limit_factor, 64},
        {&s.slow_damping_factor, 0, &RacerSetup::slow_damping_factor, 1},
        {&s.leveling, NAN, &RacerSetup::leveling, 0},
        {&s.max_dab_speed, 20, &RacerSetup::max_dab_speed, 20 * mph},
        {&s.max_dab_speed, 2, &RacerSetup::max_dab_speed, 7},
        {&s.max_dab_speed, 60, &RacerSetup::max_dab_speed, 60 * mph},
        {&s.max_dab_speed, 200, &RacerSetup::max_dab_speed, 100},
        {&s.brake_torque, 900, &RacerSetup::brake_torque, 500},
        {&s.fork_compression_adjustment, 0, &RacerSetup::fork_compression, 30},
        {&s.fork_compression_adjustment, 100, &RacerSetup::fork_compression, 120},
        {&s.fork_rebound_adjustment, 250, &RacerSetup::fork_rebound, 64},
        {&s.shock_rebound_adjustment, -50, &RacerSetup::shock_rebound, 325},
        {&s.shock_compression_adjustment, 75, &RacerSetup::shock_compression, 800 * M_SQRT2},
        {&s.fork_spring_rate_adjustment, 0, &RacerSetup::fork_spring_rate, 376.303},
        {&s.fork_oil_level_adjustment, 100, &RacerSetup::fork_oil_level, 0.25},
        {&s.shock_spring_rate_adjustment, 150, &RacerSetup::shock_spring_rate, 5174.16},
        {&s.shock_preload_adjustment, 50, &RacerSetup::shock_preload, 0.01375},
        {&s.rider_yspring, 30, &RacerSetup::rider_yspring, 0.3},
        {&s.rider_zdamping, 130, &RacerSetup::rider_zdamping, 1},
        {&s.rider_mass_distribution, 0.9, &RacerSetup::rider_mass_distribution, 0.5},
        {&s.rider_mass_distribution, 0.4, &RacerSetup::rider_mass_distribution, 0.4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.setting->label) + " " + std::to_string(c.value));
        bike_setup_reset();
        c.setting->value = c.value;
        ASSERT_TRUE(apply_setup(&racer, true));
        EXPECT_NEAR(racer.setup.*c.field, c.expected, 1e-9 * (1 + fabs(c.expected)));
    }
}

TEST_F(Setup, SprocketsAndFinalRatio)
{
    struct Case {
        int stock;
        double adjustment;
        int teeth;
    };
    const Case cases[] = {
        {13, 0, 13}, {13, 2, 15}, {13, -2, 11}, {13, 5, 15}, {13, -9, 11},
        {13, 0.5, 13}, {13, -0.5, 12}, {4, -2, 3}, {2, 0, 3}, {13, NAN, 11},
    };
    for (const Case &c : cases)
        EXPECT_EQ(adjusted_sprocket(c.stock, c.adjustment), c.teeth)
            << c.stock << " " << c.adjustment;

    BikeSetup &s = bike_setup_edit();
    s.front_sprocket_adjustment.value = 1;
    s.rear_sprocket_adjustment.value = -2;
    ASSERT_TRUE(apply_setup(&racer, true));
    EXPECT_DOUBLE_EQ(racer.setup.final_ratio, 46.0 / 14);

    char text[32];
    ASSERT_TRUE(setup_physical_text(&racer.model, &s.rear_sprocket_adjustment, text,
                                    sizeof text));
    EXPECT_STREQ(text, "46.00 teeth");
}

TEST_F(Setup, SuspensionFiguresForTheMenu)
{
    const BikeSetup &s = bike_setup();
    const BikeModel *m = &racer.model;
    char text[32];
    ASSERT_TRUE(setup_physical_text(m, &s.fork_spring_rate_adjustment, text, sizeof text));
    EXPECT_STREQ(text, "0.480 kg/mm");     // (376.303 + 913.878) / 2 × 0.000744...
    ASSERT_TRUE(setup_physical_text(m, &s.fork_oil_level_adjustment, text, sizeof text));
    EXPECT_STREQ(text, "101.60 mm");
    ASSERT_TRUE(setup_physical_text(m, &s.shock_preload_adjustment, text, sizeof text));
    EXPECT_STREQ(text, "4.19 mm");
    EXPECT_NEAR(shock_spring_kg_per_mm(m, 1), 5174.16 * 0.001488163945, 1e-12);
    EXPECT_NEAR(fork_preload_mm(m, 1), 0.08333 * 304.8, 1e-9);
    EXPECT_FALSE(setup_physical_text(m, &s.brake_torque, text, sizeof text));
}

TEST_F(Setup, FlagsFromTheChoices)
{
    BikeSetup &s = bike_setup_edit();
    s.stop_wheelies.selected = 1;       // "Yes"
    s.front_brake.selected = 0;
    s.rear_brake.selected = 1;
    s.auto_shift.selected = 1;
    s.auto_dab.selected = 0;
    s.auto_align.selected = 0;
    s.arcade.selected = 1;
    ASSERT_TRUE(apply_setup(&racer, true));
    EXPECT_EQ(racer.setup.flags, SETUP_CUT_TORQUE_IN_WHEELIE | SETUP_RELEASE_FRONT_IN_STOPPIE |
                                     SETUP_REAR_ANTILOCK | SETUP_AUTO_SHIFT);
    EXPECT_EQ(racer.setup.flags2, SETUP_ARCADE);
    // A game mode without arcade physics keeps it off whatever the setting.
    ASSERT_TRUE(apply_setup(&racer, false));
    EXPECT_EQ(racer.setup.flags2, 0);
    s.stop_wheelies.selected = 2;       // "Front Only"
    apply_setup_flags(&racer, true);
    EXPECT_EQ(racer.setup.flags & 6, SETUP_RELEASE_FRONT_IN_STOPPIE);
}

// The mechanic works on a bike at rest; asking twice within 10 s while it moves
// earns the complaint, and a refused setup changes nothing.
TEST_F(Setup, RefusedWhileMoving)
{
    BikeSetup &s = bike_setup_edit();
    s.brake_torque.value = 100;
    RacerSetup before = racer.setup;

    EXPECT_FALSE(apply_setup_at_speed(&racer, 5, true));
    EXPECT_EQ(messages_shown(), 0);
    EXPECT_DOUBLE_EQ(racer.setup.brake_torque, before.brake_torque);

    game_clock_advance(9.5);
    EXPECT_FALSE(apply_setup_at_speed(&racer, 0.2, true));
    EXPECT_EQ(messages_shown(), 1);
    EXPECT_STREQ(message_log().lines[0], MECHANIC);
    EXPECT_TRUE(log.contains(MECHANIC));

    // Each refusal restarts the 10 s.
    game_clock_advance(9.5);
    EXPECT_FALSE(apply_setup_at_speed(&racer, 0.2, true));
    EXPECT_EQ(messages_shown(), 2);
    game_clock_advance(10.5);
    EXPECT_FALSE(apply_setup_at_speed(&racer, 0.2, true));
    EXPECT_EQ(messages_shown(), 2);

    // At rest (and at exactly the limit) it is applied without a word.
    EXPECT_TRUE(apply_setup_at_speed(&racer, 0.125, true));
    EXPECT_DOUBLE_EQ(racer.setup.brake_torque, 100);
    EXPECT_TRUE(apply_setup(&racer, true));
    EXPECT_EQ(messages_shown(), 2);
    // A speed that is not a number is not "at rest".
    EXPECT_FALSE(apply_setup_at_speed(&racer, NAN, true));
}

TEST_F(Setup, GearSelection)
{
    struct Step {
        int request, crashed, gear;
    };
    // A five-speed: the top gear holds, requests act on change only.
    const Step steps[] = {
        {1, 0, 1}, {1, 0, 1}, {0, 0, 1}, {1, 0, 2}, {0, 0, 2}, {1, 0, 3}, {0, 0, 3},
        {1, 0, 4}, {0, 0, 4}, {1, 0, 4}, {-1, 1, 4}, {0, 0, 4}, {-1, 0, 3}, {-1, 0, 3},
        {2, 0, 3}, {0, 0, 3}, {-1, 0, 2}, {0, 0, 2}, {-1, 0, 1}, {0, 0, 1}, {-1, 0, 0},
        {0, 0, 0}, {-1, 0, 0},
    };
    int n = 0;
    for (const Step &s : steps) {
        racer.crash_countdown = s.crashed ? 300 : 0;
        request_shift(&racer, s.request);
        EXPECT_EQ(racer.gear, s.gear) << "step " << n;
        n++;
    }
    // A six-speed reaches its sixth gear.
    racer.model = *find_bike_model("125sx");
    racer.gear = 4;
    racer.last_shift_request = 0;
    request_shift(&racer, 1);
    EXPECT_EQ(racer.gear, 5);
}
