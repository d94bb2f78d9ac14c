// The rigid-body model of bike and rider: masses and inertias against the mass
// models worked out by hand, the joints as posed and as read back, a racer left to
// fall for a while, and many racers made and destroyed.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/catalogue.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_home.h"
#include "track/shape.h"

namespace
{

struct Mat3 {
    double m[3][3];
};

Mat3 diagonal(double a, double b, double c)
{
    return {{{a, 0, 0}, {0, b, 0}, {0, 0, c}}};
}

// R I R^T for a rotation by angle about the x axis.
Mat3 turned_about_x(const Mat3 &in, double angle)
{
    double c = cos(angle), s = sin(angle);
    double r[3][3] = {{1, 0, 0}, {0, c, -s}, {0, s, c}};
    Mat3 out = {};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            for (int k = 0; k < 3; k++)
                for (int l = 0; l < 3; l++)
                    out.m[i][j] += r[i][k] * in.m[k][l] * r[j][l];
    return out;
}

void expect_mass(const dMass &got, double mass, const Mat3 &inertia, const char *what)
{
    SCOPED_TRACE(what);
    EXPECT_NEAR(got.mass, mass, 1e-9);
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(got.c[i], 0, 1e-12);
        for (int j = 0; j < 3; j++)
            EXPECT_NEAR(got.I[i * 4 + j], inertia.m[i][j], 1e-9) << i << "," << j;
    }
}

class RacerPhysics : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(create_physics_world());
        physics_reset_message_count();
    }
    void TearDown() override
    {
        destroy_physics_world();
        TempHomeTest::TearDown();
    }

    Racer *make(const char *bike = "crf450(2013)")
    {
        return create_racer(bike, 7, "123456789", nullptr, nullptr, nullptr, nullptr);
    }
};

TEST_F(RacerPhysics, BodiesCarryTheirMassModels)
{
    Racer *r = make();
    ASSERT_NE(r, nullptr);
    const BikeModel &m = r->model;
    dMass got;

    // Frame: a box with two thirds of the rider on it; rider: a 1 ft ball.
    double frame = m.frame_mass + m.rider_mass * 2 / 3;
    double bx = m.frame_box.x, by = m.frame_box.y, bz = m.frame_box.z;
    dBodyGetMass(r->bodies[BODY_FRAME], &got);
    expect_mass(got, frame,
                diagonal(frame * (by * by + bz * bz) / 12, frame * (bx * bx + bz * bz) / 12,
                         frame * (bx * bx + by * by) / 12),
                "frame");
    double rider = m.rider_mass / 3;
    dBodyGetMass(r->bodies[BODY_RIDER], &got);
    expect_mass(got, rider, diagonal(0.4 * rider, 0.4 * rider, 0.4 * rider), "rider");

    // Wheels: hub ball plus 16 tyre balls on a ring about the x axis.
    for (int w = 0; w < 2; w++) {
        const WheelRecord &wr = w ? m.rear_wheel : m.front_wheel;
        double hub = 0.4 * wr.hub_mass * wr.hub_radius * wr.hub_radius;
        double balls = 0.4 * wr.tyre_mass * wr.tyre_section_radius * wr.tyre_section_radius;
        double ring = wr.tyre_mass * wr.tyre_centre_radius * wr.tyre_centre_radius;
        dBodyGetMass(r->bodies[w ? BODY_REAR_WHEEL : BODY_FRONT_WHEEL], &got);
        expect_mass(got, wr.hub_mass + wr.tyre_mass,
                    diagonal(hub + balls + ring, hub + balls + ring / 2, hub + balls + ring / 2),
                    w ? "rear wheel" : "front wheel");
    }

    // Fork: two solid cylinders along y at x = +-width/2, leaned back by the rake.
    double leg = m.fork_mass / 2, radius = m.fork_width / 8, length = m.fork_length * 2 / 3;
    double across = leg * (3 * radius * radius + length * length) / 12;
    double offset = leg * m.fork_width * m.fork_width / 4;
    Mat3 fork =
        diagonal(2 * across, 2 * (leg * radius * radius / 2 + offset), 2 * (across + offset));
    double rake = atan((m.fork_lower_position.z - m.steering_head.z) /
                       (m.fork_lower_position.y - m.steering_head.y));
    Mat3 fork_turned = turned_about_x(fork, rake);
    EXPECT_GT(fabs(fork_turned.m[1][2]), 1e-3); // the lean shows in the products
    dBodyGetMass(r->bodies[BODY_FORK_UPPER], &got);
    expect_mass(got, m.fork_mass, fork_turned, "fork upper");
    dBodyGetMass(r->bodies[BODY_FORK_LOWER], &got);
    expect_mass(got, m.fork_mass, fork_turned, "fork lower");

    // Swingarm: two boxes from the pivot to the axle at x = +-box.x/2.
    double dy = m.rear_wheel.axle.y - m.swingarm_pivot.y;
    double dz = m.rear_wheel.axle.z - m.swingarm_pivot.z;
    double arm_length = sqrt(dy * dy + dz * dz);
    double side = bx / 4, arm = m.swingarm_mass;
    double shift = arm * bx * bx / 4;
    Mat3 swingarm = diagonal(2 * arm * (side * side + arm_length * arm_length) / 12,
                             2 * (arm * (side * side + arm_length * arm_length) / 12 + shift),
                             2 * (arm * 2 * side * side / 12 + shift));
    dBodyGetMass(r->bodies[BODY_SWINGARM], &got);
    expect_mass(got, 2 * arm, turned_about_x(swingarm, -atan(dy / dz)), "swingarm");

    double total = frame + rider + 2 * m.fork_mass + 2 * arm + m.front_wheel.hub_mass +
                   m.front_wheel.tyre_mass + m.rear_wheel.hub_mass + m.rear_wheel.tyre_mass;
    EXPECT_NEAR(total_mass(r), total, 1e-9);
    EXPECT_NEAR(total_mass(r), 13.95875, 1e-5);
    destroy_racer(r);
}

TEST_F(RacerPhysics, RiderMassDistributionMovesMassBetweenFrameAndRider)
{
    Racer *r = make();
    double before = total_mass(r);
    apply_rider_mass_distribution(r, 0.5);
    dMass frame, rider;
    dBodyGetMass(r->bodies[BODY_FRAME], &frame);
    dBodyGetMass(r->bodies[BODY_RIDER], &rider);
    EXPECT_NEAR(frame.mass, r->model.frame_mass + r->model.rider_mass / 2, 1e-9);
    EXPECT_NEAR(rider.mass, r->model.rider_mass / 2, 1e-9);
    EXPECT_NEAR(rider.I[0], 0.4 * rider.mass, 1e-9);
    EXPECT_DOUBLE_EQ(total_mass(r), before);
    destroy_racer(r);
}

TEST_F(RacerPhysics, SteeringAxisAndForkLeanBackByTheRake)
{
    Racer *r = make();
    EXPECT_NEAR(fork_rake(&r->model) * 180 / M_PI, 26.7, 0.1);
    dVector3 axis;
    dJointGetHingeAxis(r->joints[JOINT_STEERING], axis);
    EXPECT_NEAR(acos(axis[1]) * 180 / M_PI, 26.7, 0.1);
    EXPECT_GT(axis[2], 0) << "the fork reaches forward and down from the steering head";
    dJointGetSliderAxis(r->joints[JOINT_FORK], axis);
    EXPECT_NEAR(acos(axis[1]) * 180 / M_PI, 26.7, 0.1);
    destroy_racer(r);
}

TEST_F(RacerPhysics, PosedJointsReadBackThePose)
{
    Racer *r = make();
    struct Case {
        double steer, swingarm, fork, front, rear;
        double axis[3], angle;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0, {0, 1, 0}, 0},
        {0.3, -0.2, -0.4, 1.0, -2.0, {0, 1, 0}, 0.7},
        {-0.7, -0.5, -0.95, -3.0, 2.5, {1, 0.3, -0.2}, 2.2},
        {0.78, -0.01, -0.001, 0.25, 3.0, {0.2, -1, 0.5}, -1.3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.steer);
        double len = sqrt(c.axis[0] * c.axis[0] + c.axis[1] * c.axis[1] + c.axis[2] * c.axis[2]);
        double s = sin(c.angle / 2) / len;
        double q[4] = {cos(c.angle / 2), c.axis[0] * s, c.axis[1] * s, c.axis[2] * s};
        double p[3] = {100, 20, -30};
        pose_racer(r, p, q, c.steer, c.swingarm, c.fork, nullptr, c.front, c.rear);
        EXPECT_NEAR(steering_angle(r), c.steer, 1e-6);
        EXPECT_NEAR(swingarm_angle(r), c.swingarm, 1e-6);
        EXPECT_NEAR(fork_position(r), c.fork, 1e-6);
        EXPECT_NEAR(dJointGetHingeAngle(r->joints[JOINT_FRONT_AXLE]), c.front, 1e-6);
        EXPECT_NEAR(dJointGetHingeAngle(r->joints[JOINT_REAR_AXLE]), c.rear, 1e-6);
        // The joint anchors agree on both bodies: the pose is one rigid assembly.
        for (int j : {JOINT_FRONT_AXLE, JOINT_REAR_AXLE, JOINT_STEERING, JOINT_SWINGARM_PIVOT}) {
            dVector3 a1, a2;
            dJointGetHingeAnchor(r->joints[j], a1);
            dJointGetHingeAnchor2(r->joints[j], a2);
            for (int i = 0; i < 3; i++)
                EXPECT_NEAR(a1[i], a2[i], 1e-6) << "joint " << j;
        }
    }
    destroy_racer(r);
}

TEST_F(RacerPhysics, OldStatesSlideTheRiderAlongItsAxis)
{
    Racer *r = make();
    const BikeModel &m = r->model;
    double p[3] = {m.frame_position.x, m.frame_position.y, m.frame_position.z};
    double q[4] = {1, 0, 0, 0};
    RiderPlacement slide = {true, 1, {0, 0, 0}, {1, 0, 0, 0}};
    pose_racer(r, p, q, 0, 0, 0, &slide, 0, 0);
    const dReal *rider = dBodyGetPosition(r->bodies[BODY_RIDER]);
    double k = m.rider_slide_high / sqrt(2 * 0.083333 * 0.083333);
    EXPECT_NEAR(rider[1], m.rider_position.y + k * 0.083333, 1e-4);
    EXPECT_NEAR(rider[2], m.rider_position.z + k * 0.083333, 1e-4);
    destroy_racer(r);
}

// A bike with its tyres resting on flat ground at height 0, then left alone: no
// inputs, no contacts, just the joints, the suspension and the rider springs.
TEST_F(RacerPhysics, FallingRacerStaysInOnePieceWithoutWarnings)
{
    LogCapture log;
    Racer *r = make();
    const WheelRecord &front = r->model.front_wheel;
    double lowest = front.axle.y - front.tyre_centre_radius - front.tyre_section_radius;
    move_racer(r, 10, -lowest, 10);

    const double travel = r->model.fork_travel;
    for (int tick = 0; tick < 300; tick++) {
        apply_suspension(r);
        attach_rider_softly(r);
        physics_world_step();
    }
    EXPECT_EQ(physics_message_count(), 0);
    EXPECT_FALSE(log.contains("ODE")) << log.text();

    // Everything fell together, about 32/2 * t^2 ft.
    double t = 300 * PHYSICS_TICK;
    const dReal *frame = dBodyGetPosition(r->bodies[BODY_FRAME]);
    EXPECT_NEAR(frame[1], r->model.frame_position.y - lowest - 16 * t * t, 0.5);
    for (dBodyID b : r->bodies) {
        const dReal *p = dBodyGetPosition(b);
        for (int i = 0; i < 3; i++)
            ASSERT_TRUE(std::isfinite(p[i]));
        EXPECT_LT(fabs(p[1] - frame[1]), 4) << "a body came loose";
    }
    EXPECT_GE(fork_position(r), -travel - 0.01);
    EXPECT_LE(fork_position(r), 0.01);
    EXPECT_GE(swingarm_angle(r), -r->model.swingarm_travel - 0.01);
    EXPECT_LE(swingarm_angle(r), 0.01);
    destroy_racer(r);
}

TEST_F(RacerPhysics, ResetPutsEverythingBackAndRemountsTheRider)
{
    Racer *r = make();
    move_racer(r, 5, 6, 7);
    dBodySetLinearVel(r->bodies[BODY_FRAME], 1, 2, 3);
    detach_rider_mount(r);
    r->throttle = 1;
    r->gear = 3;
    r->crash_countdown = 400;
    r->activity = 0.1;
    reset_racer_physics(r);

    const dReal *p = dBodyGetPosition(r->bodies[BODY_FRAME]);
    EXPECT_DOUBLE_EQ(p[0], r->model.frame_position.x);
    EXPECT_DOUBLE_EQ(p[1], r->model.frame_position.y);
    EXPECT_DOUBLE_EQ(p[2], r->model.frame_position.z);
    EXPECT_EQ(dBodyGetLinearVel(r->bodies[BODY_FRAME])[1], 0);
    EXPECT_EQ(dJointGetBody(r->joints[JOINT_RIDER_MOUNT], 0), r->bodies[BODY_RIDER]);
    EXPECT_EQ(dJointGetBody(r->joints[JOINT_RIDER_MOUNT], 1), r->bodies[BODY_FRAME]);
    EXPECT_EQ(r->throttle, 0);
    EXPECT_EQ(r->gear, 0);
    EXPECT_EQ(r->crash_countdown, 0);
    EXPECT_EQ(r->activity, 1);
    EXPECT_TRUE(is_racer_active(r));
    destroy_racer(r);
}

TEST_F(RacerPhysics, ActivityEnablesAndDisablesTheBodies)
{
    Racer *r = make();
    EXPECT_EQ(r->owner, 7);
    EXPECT_STREQ(r->plate, "1234567");
    sleep_racer(r);
    EXPECT_FALSE(is_racer_active(r));
    EXPECT_FALSE(dBodyIsEnabled(r->bodies[BODY_RIDER]));
    nudge_racer(r); // asleep: woken fully
    EXPECT_EQ(r->activity, 1);
    EXPECT_TRUE(dBodyIsEnabled(r->bodies[BODY_FRAME]));
    for (int i = 0; i < 96; i++) // 0.75 s of fading
        fade_racer(r);
    EXPECT_NEAR(r->activity, 0.25, 1e-9);
    EXPECT_FALSE(dBodyIsEnabled(r->bodies[BODY_FRAME]));
    nudge_racer(r); // fading peer: held at the edge, still asleep
    EXPECT_EQ(r->activity, 0.25);
    EXPECT_FALSE(dBodyIsEnabled(r->bodies[BODY_FRAME]));
    for (int i = 0; i < 200; i++)
        fade_racer(r);
    EXPECT_EQ(r->activity, 0);
    dBodyAddForce(r->bodies[BODY_FRAME], 5, 0, 0);
    wake_racer(r);
    EXPECT_TRUE(dBodyIsEnabled(r->bodies[BODY_FRAME]));
    EXPECT_EQ(dBodyGetForce(r->bodies[BODY_FRAME])[0], 0) << "stale force survived sleep";
    destroy_racer(r);
}

TEST_F(RacerPhysics, UnknownBikeFallsBackAndNoWorldMeansNoRacer)
{
    Racer *r = make("nosuch125");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->model.name, "cr125");
    destroy_racer(r);
    destroy_physics_world();
    EXPECT_EQ(make(), nullptr);
    destroy_racer(nullptr);
}

TEST_F(RacerPhysics, ManyRacersComeAndGoWithoutLeaks)
{
    int shapes = shape_cache_count();
    for (int round = 0; round < 2; round++) {
        std::vector<Racer *> racers;
        for (int i = 0; i < 160; i++) {
            racers.push_back(make(bike_model(i % BIKE_MODEL_COUNT)->name));
            ASSERT_NE(racers.back(), nullptr);
        }
        for (Racer *r : racers)
            destroy_racer(r);
    }
    EXPECT_EQ(shape_cache_count(), shapes);
    EXPECT_EQ(physics_message_count(), 0);
}

// ---------------------------------------------------------------------------
// Graphics through the hooks

std::vector<std::string> asked;
const char *present = ""; // names, ";"-separated, that "load"

void *fake_model(const char *name, unsigned texture)
{
    asked.push_back(name);
    (void)texture;
    std::string key = std::string(";") + name + ";";
    return strstr(present, key.c_str()) ? (void *)new int(1) : nullptr;
}
unsigned fake_texture(const char *name)
{
    return strstr(name, "missing") ? 0 : 1;
}
void fake_free(void *model)
{
    delete (int *)model;
}

TEST_F(RacerPhysics, GraphicsTryTheTextureVariantThenFallBack)
{
    RacerHooks hooks = {fake_texture, fake_model, fake_free};
    racer_set_hooks(&hooks);
    asked.clear();
    present = ";@crf450v2013_frame-red.vm;@front_wheel.vm;@rear_wheel.vm;";
    LogCapture log;
    Racer *r = create_racer("crf450(2013)", 0, "1", nullptr, "missing-head.png",
                            "skins/crf450-red-x.png", "wheels.png");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->model_names[MODEL_FRAME], "@crf450v2013_frame.vm");
    EXPECT_NE(r->models[MODEL_FRAME], nullptr);
    EXPECT_STREQ(r->bike_texture, "skins/crf450-red-x.png");
    EXPECT_NE(std::find(asked.begin(), asked.end(), "skins/crf450v2013_side_plates-red.vm"),
              asked.end());
    EXPECT_TRUE(log.contains("Warning: Can't load @crf450v2013_side_plates-red.vm or "
                             "skins/crf450v2013_side_plates-red.vm"));
    EXPECT_STREQ(r->wheel_texture, "wheels.png");
    // No rider texture, and the head texture did not load: their defaults instead.
    EXPECT_STREQ(r->rider_texture, "@rider_body.png");
    EXPECT_STREQ(r->head_texture, "@rider_head.png");
    EXPECT_FALSE(log.contains("rider_plate")) << "a missing plate model is no warning";
    destroy_racer(r);
    racer_set_hooks(nullptr);
}

} // namespace
