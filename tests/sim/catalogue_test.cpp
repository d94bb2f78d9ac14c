// The bike catalogue: order, class values, the measured and designed torque
// curves, lookup and the stand-in for unknown names.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/common.h"
#include "sim/catalogue.h"
#include "tests/support/log_capture.h"

static const char *const catalogue_order[] = {
    "crf450(2013)", "kx450f(2013)", "rmz450(2013)", "yz450f(2013)", "450sxf(2013)",
    "350sxf(2013)", "crf450(2011)", "kx450f(2011)", "rmz450(2011)", "yz450f(2011)",
    "450sxf(2011)", "350sxf(2011)", "250sx(2012)", "cr250(2007)", "kx250(2006)",
    "rm250(2008)", "yz250(2012)", "crf250(2013)", "kx250f(2013)", "rmz250(2013)",
    "yz250f(2013)", "250sxf(2013)", "crf250(2009)", "kx250f(2009)", "rmz250(2009)",
    "yz250f(2009)", "250sxf(2009)", "crf250(2008)", "kx250f(2008)", "rmz250(2008)",
    "yz250f(2008)", "cr125", "kx125", "rm125", "yz125",
    "125sx", "crf250(2007)", "kx250f(2007)", "rmz250(2007)", "yz250f(2007)",
    "yz250f_se(2006)", "rs50cr", "rs50kx", "rs50rm", "rs50yz",
};

static const BikeModel *model(const char *name)
{
    const BikeModel *m = find_bike_model(name);
    EXPECT_NE(m, nullptr) << name;
    return m;
}

TEST(Catalogue, HoldsTheFortyFiveBikesInOrder)
{
    ASSERT_EQ(sizeof catalogue_order / sizeof catalogue_order[0], (size_t)BIKE_MODEL_COUNT);
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        ASSERT_NE(bike_model(i), nullptr);
        EXPECT_STREQ(bike_model(i)->name, catalogue_order[i]) << i;
        EXPECT_EQ(bike_model_index(bike_model(i)), i);
    }
    EXPECT_EQ(bike_model(-1), nullptr);
    EXPECT_EQ(bike_model(BIKE_MODEL_COUNT), nullptr);
}

TEST(Catalogue, ClassValuesAndTheTwoExceptions)
{
    struct Case {
        const char *name, *engine_class;
        double frame_mass, engine_inertia, upshift_rpm, rider_mass, clutch_stiffness;
        double shock_rebound;
    };
    const Case cases[] = {
        {"crf450(2013)", "450f", 4.735, 0.0088501, 10500, 5.46875, 7500, 650},
        {"350sxf(2013)", "250f", 4.735, 0.0068359, 10500, 5.46875, 7500, 650},
        {"350sxf(2011)", "450f", 4.735, 0.0068359, 10500, 5.46875, 7500, 650},
        {"cr250(2007)", "250", 4.365625, 0.0068359, 9000, 5.46875, 7500, 600},
        {"yz250f_se(2006)", "250f", 4.24, 0.0048828, 12500, 4.6875, 7500, 600},
        {"125sx", "125", 3.65375, 0.0048828, 12000, 4.6875, 7500, 600},
        {"rs50yz", "50", 3.34125, 0.0011936, 12000, 4.6875, 1200, 600},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const BikeModel *m = model(c.name);
        ASSERT_NE(m, nullptr);
        EXPECT_STREQ(m->engine_class, c.engine_class);
        EXPECT_DOUBLE_EQ(m->frame_mass, c.frame_mass);
        EXPECT_DOUBLE_EQ(m->engine_inertia, c.engine_inertia);
        EXPECT_DOUBLE_EQ(m->upshift_rpm, c.upshift_rpm);
        EXPECT_DOUBLE_EQ(m->rider_mass, c.rider_mass);
        EXPECT_DOUBLE_EQ(m->clutch_stiffness, c.clutch_stiffness);
        EXPECT_DOUBLE_EQ(m->shock_rebound, c.shock_rebound);
        // Shared geometry.
        EXPECT_DOUBLE_EQ(m->front_wheel.tyre_centre_radius, 0.8333);
        EXPECT_DOUBLE_EQ(m->rear_wheel.axle.z, 6);
        EXPECT_DOUBLE_EQ(m->steering_head.y, 2.9);
        EXPECT_DOUBLE_EQ(m->fork_oil_level_min, 0.41667);
    }
}

TEST(Catalogue, GearingAndGraphics)
{
    const BikeModel *crf = model("crf450(2013)");
    EXPECT_DOUBLE_EQ(crf->primary_ratio, 2.7391);
    EXPECT_EQ(crf->front_sprocket, 13);
    EXPECT_EQ(crf->rear_sprocket, 48);
    EXPECT_DOUBLE_EQ(crf->gear_ratios[4], 0.9091);
    EXPECT_DOUBLE_EQ(crf->gear_ratios[5], -1);      // a five-speed
    const BikeModel *rm = model("rm125");
    EXPECT_EQ(rm->front_sprocket, 12);
    EXPECT_DOUBLE_EQ(rm->gear_ratios[5], 0.95);
    const BikeModel *se = model("yz250f_se(2006)");
    EXPECT_STREQ(se->graphics_stem, "yz250f");
    EXPECT_STREQ(se->default_texture, "yz250f_se");
    EXPECT_STREQ(model("rs50kx")->graphics_stem, "kx125");
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        EXPECT_GT(m->gear_ratios[4], 0);
        for (int g = 1; g < GEAR_COUNT; g++) {
            if (m->gear_ratios[g] > 0) {
                EXPECT_LT(m->gear_ratios[g], m->gear_ratios[g - 1]);
            }
        }
    }
}

TEST(Catalogue, ClosedThrottleShapes)
{
    const double four[] = {2, 2, 1, 0, -1, -1, -2, -2, -3, -3};
    const double two[] = {2, 2, 1, 0, -1, -1.2, -1.4, -1.6, -1.8, -2, -2.25, -2.5, -2.75, -3,
                          -3.33, -3.67, -4, -5, -6, -7, -8, -9, -10, -10, -11, -11, -12};
    const BikeModel *crf = model("crf450(2013)");
    const BikeModel *cr = model("cr125");
    const BikeModel *rs = model("rs50cr");
    for (int i = 0; i < 10; i++)
        EXPECT_DOUBLE_EQ(crf->closed_throttle_torque[i], four[i]) << i;
    EXPECT_DOUBLE_EQ(crf->closed_throttle_torque[TORQUE_POINTS - 1], -23);
    for (int i = 0; i < 27; i++) {
        EXPECT_DOUBLE_EQ(cr->closed_throttle_torque[i], two[i]) << i;
        EXPECT_DOUBLE_EQ(rs->closed_throttle_torque[i], i < 4 ? two[i] : two[i] / 2) << i;
    }
    EXPECT_DOUBLE_EQ(cr->closed_throttle_torque[TORQUE_POINTS - 1], -23);
    EXPECT_DOUBLE_EQ(rs->closed_throttle_torque[TORQUE_POINTS - 1], -11.5);

    // Every entry carries its class's shape (the 350s follow their class).
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        const char *c = m->engine_class;
        const BikeModel *ref = !strcmp(c, "50") ? rs : !strcmp(c, "250") || !strcmp(c, "125")
                                                       ? cr : crf;
        EXPECT_EQ(0, memcmp(m->closed_throttle_torque, ref->closed_throttle_torque,
                            sizeof ref->closed_throttle_torque)) << m->name;
    }
}

TEST(Catalogue, MeasuredOpenThrottleRows)
{
    struct Point {
        const char *name;
        int index;
        double torque;
    };
    const Point points[] = {
        {"crf450(2013)", 7, 14.1},  {"crf450(2013)", 14, 31},   {"crf450(2013)", 23, 14.4},
        {"crf450(2013)", 24, 0},    {"crf450(2013)", 25, -10},  {"crf450(2013)", 49, -34},
        {"kx250f(2013)", 10, 12.92}, {"kx250f(2013)", 17, 19.18}, {"kx250f(2013)", 27, 12},
        {"kx250f(2013)", 28, 0},    {"kx250f(2013)", 29, -13.5}, {"kx250f(2013)", 49, -23.5},
        {"cr125", 10, 9.4538},      {"cr125", 20, 15.9664},     {"cr125", 25, 2.1008},
        {"cr125", 26, 0},           {"cr125", 27, 0},           {"cr125", 28, -1},
        {"cr125", 49, -11},         {"rs50cr", 9, 1},           {"rs50cr", 19, 4.3123},
        {"rs50cr", 26, 0.808},      {"rs50cr", 27, 0},          {"rs50cr", 28, -0.5},
        {"rs50cr", 49, -5.5},
    };
    for (const Point &p : points)
        EXPECT_DOUBLE_EQ(model(p.name)->open_throttle_torque[p.index], p.torque)
            << p.name << " point " << p.index;
    for (const char *name : {"rs50kx", "rs50rm", "rs50yz"})
        EXPECT_EQ(0, memcmp(model(name)->open_throttle_torque,
                            model("rs50cr")->open_throttle_torque,
                            sizeof(double) * TORQUE_POINTS)) << name;
    EXPECT_DOUBLE_EQ(torque_rev_limit_rpm(model("crf450(2013)")), 12000);
    EXPECT_DOUBLE_EQ(torque_rev_limit_rpm(model("cr125")), 13000);
}

// Every curve rises to its peak, hits its zero at the rev limit and brakes beyond it;
// the designed ones sit where their kind of engine does.
TEST(Catalogue, DesignedCurvesSuitTheirEngines)
{
    struct Range {
        const char *family;
        double peak_lo, peak_hi, peak_rpm_lo, peak_rpm_hi, limit_lo, limit_hi;
    };
    const Range ranges[] = {
        {"450f", 28.5, 32, 6500, 8500, 11000, 12500},
        {"350", 23, 27, 8000, 9000, 12500, 13500},
        {"250f", 17.5, 20.5, 8500, 10500, 13000, 14500},
        {"250", 26, 30, 7000, 8500, 10000, 11500},
        {"125", 14.5, 17.5, 9500, 11500, 12500, 13500},
        {"50", 4, 4.5, 9000, 10000, 13000, 14000},
    };
    const std::set<std::string> measured = {"crf450(2013)", "kx250f(2013)", "cr125"};
    std::set<std::vector<double>> distinct;

    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *m = bike_model(i);
        SCOPED_TRACE(m->name);
        const double *t = m->open_throttle_torque;
        distinct.insert(std::vector<double>(t, t + TORQUE_POINTS));
        std::string family = strncmp(m->name, "350", 3) == 0 ? "350" : m->engine_class;
        const Range *r = nullptr;
        for (const Range &c : ranges)
            if (family == c.family)
                r = &c;
        ASSERT_NE(r, nullptr);

        double peak_rpm = 0, peak = torque_peak(m, &peak_rpm);
        double limit = torque_rev_limit_rpm(m);
        EXPECT_GE(peak, r->peak_lo);
        EXPECT_LE(peak, r->peak_hi);
        EXPECT_GE(peak_rpm, r->peak_rpm_lo);
        EXPECT_LE(peak_rpm, r->peak_rpm_hi);
        EXPECT_GE(limit, r->limit_lo);
        EXPECT_LE(limit, r->limit_hi);
        // Automatic shifting must be able to reach its upshift point.
        EXPECT_GT(limit, m->upshift_rpm);

        int zero = (int)(limit / TORQUE_RPM_STEP);
        for (int k = 0; k < zero; k++)
            EXPECT_GT(t[k], 0) << k;
        EXPECT_EQ(t[zero], 0);
        EXPECT_LT(t[TORQUE_POINTS - 1], 0);
        for (int k = zero + 1; k < TORQUE_POINTS; k++)
            EXPECT_LE(t[k], t[k - 1]) << k;
        if (m->engine_class[0] == '5' || measured.count(m->name))
            continue;
        // Designed tails are strictly negative right after the zero.
        EXPECT_LT(t[zero + 1], 0);
        // Two-strokes of 250 cc come on hard: most of their rise is in the last
        // 2000 rpm before the peak; four-strokes have done most of theirs by then.
        int p = (int)(peak_rpm / TORQUE_RPM_STEP);
        double late_rise = (t[p] - t[p - 4]) / (t[p] - 5);
        if (!strcmp(m->engine_class, "250")) {
            EXPECT_GT(late_rise, 0.6);
        } else if (strcmp(m->engine_class, "125") != 0) {
            EXPECT_LT(late_rise, 0.3);
        }
    }
    // 41 engines: the four 50s share one, the 2006 special edition shares the 2007's.
    EXPECT_EQ(distinct.size(), 41u);
    EXPECT_EQ(0, memcmp(model("yz250f(2007)")->open_throttle_torque,
                        model("yz250f_se(2006)")->open_throttle_torque,
                        sizeof(double) * TORQUE_POINTS));
}

TEST(Catalogue, FindIsExact)
{
    EXPECT_EQ(find_bike_model("cr125"), bike_model(31));
    EXPECT_EQ(find_bike_model("CR125"), nullptr);
    EXPECT_EQ(find_bike_model("cr125 "), nullptr);
    EXPECT_EQ(find_bike_model("crf250"), nullptr);
    EXPECT_EQ(find_bike_model(""), nullptr);
    EXPECT_EQ(find_bike_model(nullptr), nullptr);
}

TEST(Catalogue, UnknownNamesFallBackWithAMessage)
{
    LogCapture log;
    struct Case {
        const char *requested, *chosen, *message;
    };
    const Case cases[] = {
        {"zx125", "cr125", "bike info for 'zx125' not found using 'cr125' instead"},
        {"crf450", "kx250f(2013)", "bike info for 'crf450' not found using 'kx250f(2013)' instead"},
        {"a-very-long-bike-name-with-125-in-it", "cr125",
         "bike info for 'a-very-long-bike-nam' not found using 'cr125' instead"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.requested);
        message_log_clear();
        const BikeModel *m = choose_bike_model(c.requested);
        ASSERT_NE(m, nullptr);
        EXPECT_STREQ(m->name, c.chosen);
        const MessageLog &ml = message_log();
        int last = (ml.write_index + MESSAGE_LINES - 1) % MESSAGE_LINES;
        EXPECT_STREQ(ml.lines[last], c.message);
        EXPECT_TRUE(log.contains(c.message));
    }
    // A known name is taken as it is, without a word.
    log.clear();
    int before = message_log().write_index;
    EXPECT_STREQ(choose_bike_model("rm125")->name, "rm125");
    EXPECT_EQ(message_log().write_index, before);
    EXPECT_FALSE(log.contains("not found"));
    EXPECT_NE(choose_bike_model(nullptr), nullptr);
}
