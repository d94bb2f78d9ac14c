// Racers put where the contact and step laws meet their awkward corners: a wheel
// resting exactly on a vertex or an edge of the height field, a bike far outside
// the terrain, a bike at rest with nothing touched, one created upside down. Each
// is stepped two seconds through the game's world tick; nothing may turn NaN or
// infinite.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "sim/contact.h"
#include "sim/racer_body.h"
#include "sim/racer_pose.h"
#include "sim/step.h"
#include "sim/world.h"
#include "sim/world_tick.h"
#include "tests/support/temp_home.h"
#include "tests/sim/test_terrain.h"
#include "track/terrain.h"

namespace
{

const float CELL = 4;

// 9 x 9 samples 4 ft apart in a checkerboard of heights 0 and 0.5: every sample
// with an odd i + j is a peak, every cell diagonal runs along a valley between
// two low samples, and every grid line is a slope between a peak and a low one.
Terrain bumpy_terrain()
{
    return test_terrain(2, CELL, [](int i, int j) { return (i + j) % 2 ? 0.5 : 0.0; });
}

enum Placement {
    FRONT_ON_POINT,     // the front tyre's lowest point exactly on (x, z) at its height
    LIFTED_CLEAR,       // raised in steps of 1/4 ft until nothing touches
};

struct Case {
    const char *name;
    double x, z;            // where the front wheel goes (FRONT_ON_POINT) or the frame
    Placement placement;
    bool upside_down;
    bool arcade;
    float throttle, steer;
};

class StepDegenerate : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(create_physics_world());
        terrain = bumpy_terrain();
        // The packed game data, for the part shapes that meet the ground when the
        // bike lies down or stands on its head.
        std::error_code ec;
        std::filesystem::copy_file(std::string(RUTTMOOR_BUILD_DIR) + "/zzzz.saf",
                                   data + "zzzz.saf", ec);
        ASSERT_FALSE(ec) << "the packed game data is needed: " << ec.message();
    }
    void TearDown() override
    {
        destroy_physics_world();
        TempHomeTest::TearDown();
    }

    // Turns every body by half a turn about the frame's forward axis, through the
    // frame's position.
    static void turn_upside_down(Racer *racer)
    {
        const dReal *f = dBodyGetPosition(racer->bodies[BODY_FRAME]);
        double centre[3] = {f[0], f[1], f[2]};
        dMatrix3 turn;
        dRFromAxisAndAngle(turn, 0, 0, 1, M_PI);
        for (dBodyID b : racer->bodies) {
            const dReal *p = dBodyGetPosition(b);
            dVector3 rel = {p[0] - centre[0], p[1] - centre[1], p[2] - centre[2], 0}, moved;
            dMultiply0_331(moved, turn, rel);
            dBodySetPosition(b, centre[0] + moved[0], centre[1] + moved[1], centre[2] + moved[2]);
            dMatrix3 r;
            dMultiply0_333(r, turn, dBodyGetRotation(b));
            dBodySetRotation(b, r);
        }
    }

    void place(Racer *racer, const Case &c)
    {
        if (c.upside_down)
            turn_upside_down(racer);
        if (c.placement == FRONT_ON_POINT) {
            const dReal *w = dBodyGetPosition(racer->bodies[BODY_FRONT_WHEEL]);
            const WheelRecord &wheel = racer->model.front_wheel;
            double bottom = w[1] - wheel.tyre_centre_radius - wheel.tyre_section_radius;
            move_racer(racer, c.x - w[0], terrain_height(&terrain, c.x, c.z) - bottom,
                       c.z - w[2]);
            return;
        }
        const dReal *f = dBodyGetPosition(racer->bodies[BODY_FRAME]);
        move_racer(racer, c.x - f[0], 0, c.z - f[2]);
        for (int i = 0; i < 64 && terrain_touch_test(racer, &terrain); i++)
            move_racer(racer, 0, 0.25, 0);
        ASSERT_FALSE(terrain_touch_test(racer, &terrain));
    }

    // The first body with a position, rotation or velocity that is not finite, or
    // -1 when all are.
    static int first_non_finite_body(const Racer *racer)
    {
        for (int i = 0; i < RACER_BODY_COUNT; i++) {
            dBodyID b = racer->bodies[i];
            const dReal *p = dBodyGetPosition(b), *q = dBodyGetQuaternion(b);
            const dReal *r = dBodyGetRotation(b);
            const dReal *v = dBodyGetLinearVel(b), *w = dBodyGetAngularVel(b);
            double sum = q[3];
            for (int k = 0; k < 3; k++)
                sum += p[k] + q[k] + v[k] + w[k] + r[k] + r[4 + k] + r[8 + k];
            if (!std::isfinite(sum))
                return i;
        }
        return -1;
    }

    Terrain terrain;
};

TEST_F(StepDegenerate, AwkwardPlacesAndPosesStayFinite)
{
    const Case cases[] = {
        // Peaks at (3, 4) and (5, 4); (4, 4) is low, (4, 3.5) halfway up a slope.
        {"front tyre on a peak sample", 3 * CELL, 4 * CELL, FRONT_ON_POINT, false, false, 0, 0},
        {"front tyre on a peak, arcade, throttle", 5 * CELL, 4 * CELL, FRONT_ON_POINT, false,
         true, 1, 0.5f},
        {"front tyre on a valley diagonal", 3.5 * CELL, 3.5 * CELL, FRONT_ON_POINT, false, false,
         0.5f, -1},
        {"both tyres along a grid line", 4 * CELL, 3.5 * CELL, FRONT_ON_POINT, false, false, 0,
         0},
        {"far outside the terrain", 1e6, 16, LIFTED_CLEAR, false, false, 1, 1},
        {"far outside, arcade", -1e6, -1e6, LIFTED_CLEAR, false, true, 1, -1},
        {"at rest, nothing touched", 16, 16, LIFTED_CLEAR, false, false, 0, 0},
        {"at rest, nothing touched, arcade", 16, 16, LIFTED_CLEAR, false, true, 0, 0},
        {"upside down", 16, 16, LIFTED_CLEAR, true, false, 0, 0},
        {"upside down, arcade, throttle", 12, 20, LIFTED_CLEAR, true, true, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Racer *racer = create_racer("crf450(2013)", 1, "1", nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(racer, nullptr);
        racer->setup.flags = 0;     // no dab, no shifting: nothing props the bike up
        racer->setup.flags2 = c.arcade ? SETUP_ARCADE : 0;
        place(racer, c);
        ASSERT_EQ(first_non_finite_body(racer), -1);

        StepContext ctx = {};
        ctx.terrain = &terrain;
        int bad = -1, tick = 1;
        for (; tick <= 256 && bad < 0; tick++) {
            apply_controls(racer, c.steer, 0, 0, c.throttle, 0, 0, 0, c.throttle > 0 ? 1.0f : 0.0f,
                           0);
            ctx.tick = tick;
            world_tick(&racer, 1, &ctx);
            bad = first_non_finite_body(racer);
            if (tick == 3 && c.placement == FRONT_ON_POINT) {
                // It does sit where the case says: the front tyre's contact is on
                // the sample, the edge or the diagonal.
                const double *p = racer->wheel_contacts[0].point;
                EXPECT_GT(racer->wheel_contacts[0].depth, 0);
                EXPECT_LT(hypot(p[0] - c.x, p[2] - c.z), 0.25);
            }
        }
        EXPECT_EQ(bad, -1) << "body " << bad << " at tick " << tick - 1;
        EXPECT_TRUE(std::isfinite(racer->engine_speed));
        for (const RacerLegPoint &leg : racer->leg_points)
            for (int k = 0; k < 3; k++)
                EXPECT_TRUE(std::isfinite(leg.position[k]) && std::isfinite(leg.velocity[k]));
        destroy_racer(racer);
    }
}

} // namespace
