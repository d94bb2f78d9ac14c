// The force laws of fork and shock, the rider's soft attachment to the seat and
// the tether, at the points where their behaviour changes.
#include <cmath>

#include <gtest/gtest.h>

#include "sim/catalogue.h"
#include "sim/racer.h"
#include "sim/racer_joints.h"
#include "sim/setup.h"
#include "sim/world.h"

namespace
{

RacerSetup setup_of(const BikeModel **model)
{
    static Racer racer;
    racer = Racer{};
    racer.model = *find_bike_model("crf450(2013)");
    set_default_racer_setup(&racer);
    *model = &racer.model;
    return racer.setup;
}

TEST(Fork, TopsOutAtFullExtensionAndRampsInOverAThirtySecondOfTravel)
{
    const BikeModel *m;
    RacerSetup s = setup_of(&m);
    s.fork_preload = 0.05;
    double t = m->fork_travel;
    EXPECT_EQ(fork_force(&s, t, 0, 0), 0) << "preload alone must not push the top-out stop";
    EXPECT_EQ(fork_force(&s, t, 0.01, 0), 0);

    double p = -t / 32;
    double full =
        fork_air_spring(t, s.fork_oil_level, -p) + (s.fork_preload - p) * s.fork_spring_rate;
    EXPECT_NEAR(fork_force(&s, t, p, 0), full, 1e-9);
    double half = fork_air_spring(t, s.fork_oil_level, -p / 2) +
                  (s.fork_preload - p / 2) * s.fork_spring_rate;
    EXPECT_NEAR(fork_force(&s, t, p / 2, 0), half / 2, 1e-9);
}

TEST(Fork, DampsCompressionAndReboundWithTheirOwnRates)
{
    const BikeModel *m;
    RacerSetup s = setup_of(&m);
    s.fork_compression = 60;
    s.fork_rebound = 32;
    double p = -0.5, still = fork_force(&s, 1, p, 0);
    EXPECT_NEAR(fork_force(&s, 1, p, 2) - still, -2 * 32, 1e-9); // extending
    EXPECT_NEAR(fork_force(&s, 1, p, -2) - still, 2 * 60, 1e-9); // compressing
}

TEST(Fork, AirSpringStiffensTowardsFullCompression)
{
    EXPECT_EQ(fork_air_spring(1, 0.25, 0), 0);
    // 82.46169 lbf * ((1.25 / 0.25)^1.4 - 1).
    EXPECT_NEAR(fork_air_spring(1, 0.25, 1), 702.43, 0.01);
    // Beyond the travel the compression is clamped before the air spring sees it.
    const BikeModel *m;
    RacerSetup s = setup_of(&m);
    s.fork_oil_level = 0.25;
    s.fork_preload = 0;
    EXPECT_NEAR(fork_force(&s, 1, -1.5, 0), 702.43 + 1.5 * s.fork_spring_rate, 0.01);
}

TEST(Shock, LinearLinkageWithTopOutRamp)
{
    const BikeModel *m;
    RacerSetup s = setup_of(&m);
    double travel = m->swingarm_travel;
    double l = m->linkage_a;
    EXPECT_EQ(shock_torque(&s, m, 0, 0), 0);
    EXPECT_EQ(shock_torque(&s, m, 0.1, 0), 0);
    // Full compression: shock travel = linkage ratio, times the ratio again for torque.
    EXPECT_NEAR(shock_torque(&s, m, -travel, 0), l * s.shock_spring_rate * (l + s.shock_preload),
                1e-6);
    double a = -travel / 64; // halfway up the ramp
    double u = 1.0 / 64;
    EXPECT_NEAR(shock_torque(&s, m, a, 0),
                0.5 * l * s.shock_spring_rate * (l * u + s.shock_preload), 1e-9);
    double still = shock_torque(&s, m, -travel / 2, 0);
    EXPECT_NEAR(shock_torque(&s, m, -travel / 2, 1) - still, -l * l * s.shock_rebound, 1e-6);
    EXPECT_NEAR(shock_torque(&s, m, -travel / 2, -1) - still, l * l * s.shock_compression, 1e-6);
}

TEST(RiderAttachment, SetupSpringsNearTheSeatStiffHoldBeyond)
{
    const BikeModel *m;
    RacerSetup s = setup_of(&m);
    s.rider_zspring = 0.5;
    s.rider_yspring = 0.25;
    s.rider_ydamping = 0.75;
    double scale = m->rider_mass * 0.21333333;
    struct Case {
        double eu, ez, dab, lean;
        double fore_k, fore_c, fore_sign, fore_depth;
        double vert_k, vert_c, vert_sign, vert_depth;
    };
    const Case cases[] = {
        // On the seat: fore target 0, vertical pushed up by 1/8 ft.
        {0, 0, 0, 0, 300, 0, 1, 0, 100, 75, 1, 0.125},
        // Leaning forward: the target moves rearwards relative to the seat.
        {0, 0.2, 0, 0.5, 300 + 70, 0, 1, 0.7, 100, 75, 1, 0.125},
        // Standing on the pegs with the dab: the target follows the height.
        {0.4, 0.1, 1, 0, 300 + 30, 0, -1, 0.3, 100, 75, 1, 0.025},
        // Drifted far back or high above the seat: stiff hold.
        {0, 0.8, 0, 0, 2500, 2500, 1, 0.8, 100, 75, 1, 0.125},
        {0.6, 0, 0, 0, 300 + 30, 0, -1, 0.3, 2500, 2500, 1, 0.725},
        {-0.9, 0, 0, 0, 300 + 45, 0, 1, 0.45, 2500, 2500, -1, 0.775},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.eu << " " << c.ez);
        RiderSoftContact fore, vert;
        rider_attachment_terms(&s, m->rider_mass, c.eu, c.ez, c.dab, c.lean, &fore, &vert);
        EXPECT_TRUE(fore.made);
        EXPECT_NEAR(fore.stiffness, c.fore_k * scale, 1e-9);
        EXPECT_NEAR(fore.damping, c.fore_c * scale, 1e-9);
        EXPECT_EQ(fore.sign, c.fore_sign);
        EXPECT_NEAR(fore.depth, c.fore_depth, 1e-9);
        EXPECT_NEAR(vert.stiffness, c.vert_k * scale, 1e-9);
        EXPECT_NEAR(vert.damping, c.vert_c * scale, 1e-9);
        EXPECT_EQ(vert.sign, c.vert_sign);
        EXPECT_NEAR(vert.depth, c.vert_depth, 1e-9);
    }
    // Springs and dampers set to nothing: no contacts near the seat.
    s.rider_zspring = s.rider_yspring = s.rider_ydamping = 0;
    RiderSoftContact fore, vert;
    rider_attachment_terms(&s, m->rider_mass, 0, 0, 0, 0, &fore, &vert);
    EXPECT_FALSE(fore.made);
    EXPECT_FALSE(vert.made);
}

TEST(Tether, OnlyPullsWhenStretchedBeyondItsLimit)
{
    ASSERT_TRUE(create_physics_world());
    dBodyID a = dBodyCreate(physics_world());
    dBodyID b = dBodyCreate(physics_world());
    dBodySetPosition(b, 3, 4, 0);
    const double origin[3] = {0, 0, 0};
    EXPECT_FALSE(tether(a, origin, b, origin, 5.5));
    EXPECT_EQ(dBodyGetNumJoints(a), 0);
    EXPECT_TRUE(tether(a, origin, b, origin, 4));
    EXPECT_EQ(dBodyGetNumJoints(a), 1);
    // One step of the tether pulls the two together.
    physics_world_step();
    EXPECT_EQ(dBodyGetNumJoints(a), 0) << "the contact group is emptied after the step";
    const dReal *va = dBodyGetLinearVel(a);
    EXPECT_GT(va[0], 0);
    EXPECT_GT(va[1] + 32 * PHYSICS_TICK, 0);
    dBodyDestroy(a);
    dBodyDestroy(b);
    destroy_physics_world();
}

} // namespace
