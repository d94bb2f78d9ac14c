// The auto pilot's driving: where a bike stands on its path, the steering circle,
// the traffic boxes and the braking behind another bike, the throttle and brakes
// in the air, the personalities, the start at the gate, a bike that must stay put
// on a track without lines, a lost bike put back on its path, and recovery turning
// round. Racers are checked for finite inputs when upright, exactly straight and at
// rest.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "autopilot/lines.h"
#include "autopilot/pilot.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "tests/race/packed_track.h"
#include "tests/support/log_capture.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace
{

const double INF = std::numeric_limits<double>::infinity();

// Points 1 ft apart from the origin northwards (-z), at speed 30.
std::vector<LinePoint> straight_path(int n, float speed = 30)
{
    std::vector<LinePoint> p;
    for (int i = 0; i < n; i++)
        p.push_back(LinePoint{0, 0, -(float)i, speed, 0});
    return p;
}

TEST(PathPosition, IndexOfThePointAheadPlusTheWayFromTheOneBefore)
{
    std::vector<LinePoint> path = straight_path(10);
    const double north[3] = {0, 0, -1};
    struct Case {
        const char *name;
        double z;
        int cursor;
        float expected;
    } cases[] = {
        {"halfway between 4 and 5", -4.5, 8, 5.5f},
        {"a quarter past 2", -2.25, 8, 3.25f},
        {"cursor 0", -4.5, 0, 0.0f},
        {"the whole path ahead", 5, 6, 0.0f},
        {"beyond every point below the cursor", -9.5, 8, 8.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        double pos[3] = {0, 1, c.z};
        EXPECT_FLOAT_EQ(path_position_of(path.data(), 10, c.cursor, pos, north), c.expected);
    }
}

TEST(SteerRadius, TurnsTowardsTheAimAndHoldsStraightRunningFinite)
{
    VelocityFrame f;
    const double north[3] = {0, 0, -20};
    velocity_frame(north, &f);
    const double origin[3] = {0, 0, 0};
    const double right[3] = {5, 0, -10}, behind_right[3] = {3, 0, 4}, behind_left[3] = {-3, 0, 4},
                 ahead[3] = {0, 0, -10};
    // Upright: the aim's offset is tripled, the circle leaves along the motion.
    EXPECT_NEAR(steer_radius(right, origin, INF, &f), (15.0 * 15 + 100) / 30, 1e-9);
    EXPECT_NEAR(steer_radius(right, origin, 1e9, &f), steer_radius(right, origin, INF, &f), 1e-3);
    EXPECT_EQ(steer_radius(behind_right, origin, INF, &f), 10);
    EXPECT_EQ(steer_radius(behind_left, origin, 30, &f), -10);
    // Exactly straight ahead and upright: a huge but finite radius.
    double r = steer_radius(ahead, origin, INF, &f);
    EXPECT_TRUE(std::isfinite(r));
    EXPECT_GT(std::fabs(r), 1e6);
    // Leaning into a right-hand circle with the aim straight ahead: turn left.
    EXPECT_LT(steer_radius(ahead, origin, 20, &f), 0);
    EXPECT_GT(steer_radius(ahead, origin, -20, &f), 0);
}

TEST(Traffic, BoxesOfBikesRidingTheSameWayTouchWhenTheyOverlap)
{
    VelocityFrame f;
    const double north[3] = {0, 0, -10};
    velocity_frame(north, &f);
    double a[4][3], b[4][3];
    const double here[3] = {0, 0, 0};
    path_box(here, f.x, f.z, -2, -14, 2, 4, a);
    // Corner 0 is 2 ft left of and 14 ft ahead of the bike.
    EXPECT_DOUBLE_EQ(a[0][0], -2);
    EXPECT_DOUBLE_EQ(a[0][2], -14);
    struct Case {
        const char *name;
        double x, z;
        bool touch;
    } cases[] = {
        {"beside, overlapping by 1 ft", 3, -5, true},
        {"just clear to the side", 4.5, -5, false},
        {"far ahead", 0, -40, false},
        {"right ahead in line", 0, -10, true},
        {"inside, the same size", 0, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const double there[3] = {c.x, 0, c.z};
        path_box(there, f.x, f.z, -2, -14, 2, 4, b);
        EXPECT_EQ(boxes_touch(a, b), c.touch);
        EXPECT_EQ(boxes_touch(b, a), c.touch);
    }
    // A bike crossing at right angles through the box.
    VelocityFrame east;
    const double v_east[3] = {10, 0, 0};
    velocity_frame(v_east, &east);
    const double across[3] = {-6, 0, -6};
    path_box(across, east.x, east.z, -2, -14, 2, 4, b);
    EXPECT_TRUE(boxes_touch(a, b));
}

TEST(Traffic, AvoidSpeedFollowsTheBikeAheadAtItsSpeed)
{
    AvoidInput in{};
    const double north[3] = {0, 0, -30};
    velocity_frame(north, &in.frame);
    in.r = INF;
    in.v = 30;
    in.vt = 40;
    struct Case {
        const char *name;
        double race_time, gap, other_vz;
        double expected;
        bool clears;
    } cases[] = {
        // First 3 s: w = 0, followed within 12 ft at the other's full speed.
        {"close in the first seconds", 1, 10, -20, 20, false},
        {"close later", 10, 15, -20, 15, false},
        {"close but coming the other way", 10, 15, 20, 0, false},
        {"close and faster than the target", 10, 15, -60, 40, false},
        {"far enough to ignore", 10, 1000, -20, 40, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        in.race_time = c.race_time;
        in.other_position[2] = -c.gap;
        in.other_velocity[2] = c.other_vz;
        bool clear = false;
        EXPECT_NEAR(avoid_speed_of(&in, &clear), c.expected, 1e-9);
        EXPECT_EQ(clear, c.clears);
    }
    // Closing on a slow bike some way ahead: brake early and leave the line's
    // statistics alone.
    in.race_time = 10;
    in.other_position[2] = -40;
    in.other_velocity[2] = -10;
    bool clear = false;
    double vt = avoid_speed_of(&in, &clear);
    EXPECT_LT(vt, 40);
    EXPECT_GE(vt, 10);
    EXPECT_TRUE(clear);
}

TEST(Personality, LeadingByMoreThanTheThresholdChangesTheSkill)
{
    EXPECT_EQ(pilot_skill(2, 12), 1);       // dorran: expert lines when close
    EXPECT_EQ(pilot_skill(2, 5), 2);
    EXPECT_EQ(pilot_skill(3, 12), 0);       // tolvo
    EXPECT_EQ(pilot_skill(3, 0), 1);
    EXPECT_EQ(pilot_skill(1, 12), 0);       // brask
    EXPECT_EQ(pilot_skill(4, 12), 3);       // tester explores
}

TEST(LineCost, SkillsWeighCrashesAndTestingDifferently)
{
    LineSlot l{};
    l.points.push_back(LinePoint{0, 0, 0, 10, 0});
    l.tested = 6;
    l.canceled = 2;
    l.sum_a = 6 * 1280;
    EXPECT_NEAR(line_cost(&l, 0), 1280 + 0.25 * 640, 1e-6);
    EXPECT_NEAR(line_cost(&l, 1), 1280 + 0.25 * 640 * 1.1428572, 1e-3);
    EXPECT_NEAR(line_cost(&l, 2), 1280 + 0.25 * 640 * 4, 1e-6);
    EXPECT_EQ(line_cost(&l, 3), 1000.0 * (4 + 4));      // 6 + 8 = 14: four bits
    l.tested = 2;
    EXPECT_EQ(line_cost(&l, 0), 1000000);               // too few runs for novices
    EXPECT_NEAR(line_cost(&l, 2), 6 * 1280 / 2.0 + 0.5 * 640 * 4, 1e-6);
    l.tested = 1;
    l.canceled = 20;
    EXPECT_EQ(line_cost(&l, 3), 100000);                // mostly crashed: avoided
}

LineSlot line_from(std::initializer_list<LinePoint> points)
{
    LineSlot l{};
    l.points.assign(points);
    return l;
}

TEST(LineContinuity, TheNextLineStartsWhereThisOneHeads)
{
    LineSlot i = line_from({{0, 0, 0, 20, 0}, {0, 0, -2, 20, 0}, {0, 0, -4, 20, 0}});
    struct Case {
        const char *name;
        LineSlot j;
        bool continues;
    } cases[] = {
        {"straight on", line_from({{0, 0, -6, 20, 0}, {0, 0, -8, 20, 0}}), true},
        {"a foot aside", line_from({{1, 0, -6, 20, 0}, {1, 0, -8, 20, 0}}), true},
        {"far aside", line_from({{6, 0, -6, 20, 0}, {6, 0, -8, 20, 0}}), false},
        {"heading back", line_from({{0, 0, -6, 20, 0}, {0, 0, -4, 20, 0}}), false},
        {"much slower", line_from({{0, 0, -6, 4, 0}, {0, 0, -8, 4, 0}}), false},
        {"one point only", line_from({{0, 0, -6, 20, 0}}), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(line_continues(&i, &c.j), c.continues);
    }
    // A curving line is followed round its curve.
    LineSlot bend = line_from({{0, 0, 0, 20, 0}, {0, 0, -4, 20, 0}, {1, 0, -8, 20, 0}});
    LineSlot round = line_from({{3, 0, -11.75f, 20, 0}, {5, 0, -15.5f, 20, 0}});
    EXPECT_TRUE(line_continues(&bend, &round));
}

class PilotRacer : public PackedTrackTest
{
  protected:
    void SetUp() override
    {
        PackedTrackTest::SetUp();
        racer = create_racer("rm125", 3, "21", nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(racer, nullptr);
        racer->gates.slot = 3;
        set_personality(racer, "dorran");
        RaceState &race = race_state();
        race.frame = 3000;
        race.start_frame = 1700;
    }
    void TearDown() override
    {
        destroy_racer(racer);
        PackedTrackTest::TearDown();
    }
    void expect_finite_inputs()
    {
        for (float x : {racer->throttle, racer->clutch, racer->front_brake, racer->rear_brake,
                        racer->steer, racer->dab})
            EXPECT_TRUE(std::isfinite(x));
        EXPECT_TRUE(std::isfinite(racer->setup.restricted_lock));
        EXPECT_TRUE(std::isfinite(path_position(racer)));
    }
    Racer *racer = nullptr;
};

TEST_F(PilotRacer, UnknownPersonalityFallsBackToTheFirst)
{
    LogCapture log;
    set_personality(racer, "nobody");
    EXPECT_EQ(racer->personality, 1);
    EXPECT_TRUE(log.contains("auto pilot personality 'nobody' not found"));
    set_personality(racer, "tolvo");
    EXPECT_EQ(racer->personality, 3);
}

TEST_F(PilotRacer, InputsStayFiniteUprightStraightAndAtRest)
{
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    struct Case {
        const char *name;
        double vz;
        int gates_passed;
        float jump_speed;   // speed of points 2 and 3: negative marks a jump
    } cases[] = {
        {"at rest, upright", 0, 0, 30},
        {"at rest after the first gate", 0, 1, 30},
        {"at rest before a jump", 0, 1, -30},
        {"straight and upright", -30, 1, 30},
        {"straight towards a jump", -30, 1, -30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<LinePoint> path;
        for (int i = 0; i < 40; i++)
            path.push_back(
                LinePoint{(float)p[0], (float)p[1], (float)(p[2] - 2 * i), 30, 0});
        path[3].speed = path[4].speed = c.jump_speed;
        pilot_give_path(racer, path.data(), 40, 2);
        racer->gates.gates_passed = c.gates_passed;
        for (dBodyID b : racer->bodies) {
            dBodySetLinearVel(b, 0, 0, c.vz);
            dBodySetAngularVel(b, 0, 0, 0);
        }
        auto_pilot_step(racer);
        expect_finite_inputs();
        EXPECT_GT(pilot_path_length(racer), 0);
    }
}

TEST_F(PilotRacer, OnPathMeansNearItAndNoFasterThanItsSpeed)
{
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    struct Case {
        const char *name;
        double offset, speed;
        bool on;
    } cases[] = {
        {"on it", 0, 20, true},
        {"3 ft aside", 3, 20, true},
        {"5 ft aside", 5, 20, false},
        {"much faster than the line", 0, 40, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<LinePoint> path;
        for (int i = -5; i < 20; i++)
            path.push_back(LinePoint{(float)(p[0] + c.offset), (float)p[1],
                                     (float)(p[2] - 2 * i), 30, 0});
        pilot_give_path(racer, path.data(), (int)path.size(), 10);
        dBodySetLinearVel(racer->bodies[BODY_FRAME], 0, 0, -c.speed);
        EXPECT_EQ(pilot_on_path(racer), c.on);
    }
    // Slowing down after the flag: the speeds fall to a quarter at the path's end.
    pilot_slow_after_finish(racer);
    ASSERT_EQ(pilot_path_length(racer), 25);
    EXPECT_FLOAT_EQ(pilot_path_point(racer, 5)->speed, 30);
    EXPECT_FLOAT_EQ(pilot_path_point(racer, 24)->speed, 7.5f);
    EXPECT_LT(pilot_path_point(racer, 15)->speed, 30);
}

// A racing auto pilot that has passed no gate for a minute (lost behind the tuff
// blocks, say) is stood upright on its path at the cursor point, at rest, heading
// along the path, and rides on in recovery; earlier, or while crashed, it is left.
TEST_F(PilotRacer, ALostRiderIsPutBackOnItsPathAfterAMinute)
{
    ASSERT_EQ(load_track("fernbottom"), 1);
    RaceState &race = race_state();
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    // A path 200 ft to the east heading east (+x), out of the cursor's reach.
    std::vector<LinePoint> path;
    for (int i = 0; i < 40; i++)
        path.push_back(LinePoint{(float)(p[0] + 200 + 8 * i), (float)p[1], (float)p[2], 30, 0});
    struct Case {
        const char *name;
        double seconds;     // since the start, no gate passed
        bool crashed, moved;
    } cases[] = {
        {"59 s", 59, false, false},
        {"61 s but crashed", 61, true, false},
        {"61 s", 61, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        race.frame = race.start_frame + (int32_t)(c.seconds * 128);
        pilot_give_path(racer, path.data(), (int)path.size(), 5);
        racer->crash_countdown = c.crashed ? 100 : 0;
        dBodySetLinearVel(racer->bodies[BODY_FRAME], 3, 0, 0);
        double before[3] = {p[0], p[1], p[2]};
        auto_pilot_step(racer);
        if (!c.moved) {
            EXPECT_DOUBLE_EQ(p[0], before[0]);
            EXPECT_DOUBLE_EQ(p[2], before[2]);
            continue;
        }
        const LinePoint *at = pilot_path_point(racer, pilot_cursor(racer));
        ASSERT_NE(at, nullptr);
        EXPECT_NEAR(p[0], at->x, 1e-6);
        EXPECT_NEAR(p[2], at->z, 1e-6);
        double ground = terrain_height(track_terrain(), (float)p[0], (float)p[2]);
        EXPECT_GE(p[1] - ground, racer->model.frame_position.y - 0.01);
        EXPECT_LE(p[1] - ground, racer->model.frame_position.y + 3);
        const dReal *m = dBodyGetRotation(racer->bodies[BODY_FRAME]);
        EXPECT_NEAR(-m[2], 1, 1e-6);     // forward (-z axis) points east
        EXPECT_NEAR(m[5], 1, 1e-6);      // upright
        const dReal *v = dBodyGetLinearVel(racer->bodies[BODY_FRAME]);
        EXPECT_EQ(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 0);
        EXPECT_EQ(pilot_recovery(racer), 3);
        EXPECT_EQ(pilot_marshal_frame(racer), race.frame);
    }
    racer->crash_countdown = 0;

    // A path through the racer's next gate: the bike goes back short of the gate, so
    // that it still crosses it, not to the cursor beyond it.
    const TimingGate &g = timing_tables().checkpoints[race_gate_checkpoint(0)];
    path.clear();
    for (int i = 0; i < 40; i++) {
        float k = 8.0f * (i - 20);
        path.push_back(LinePoint{g.x + g.dx * k, g.y, g.z + g.dz * k, 30, 0});
    }
    race.frame += 61 * 128;
    pilot_give_path(racer, path.data(), (int)path.size(), 30);
    auto_pilot_step(racer);
    EXPECT_EQ(pilot_cursor(racer), 18);
    EXPECT_NEAR(p[0], path[18].x, 1e-4);
    EXPECT_NEAR(p[2], path[18].z, 1e-4);
}

TEST_F(PilotRacer, SpeedControlInTheAir)
{
    racer->wheel_contacts[0].depth = 0;
    racer->wheel_contacts[1].depth = 0;
    dBodyID frame = racer->bodies[BODY_FRAME];
    const dReal *fw = dBodyGetPosition(racer->bodies[BODY_FRONT_WHEEL]);
    const dReal *rw = dBodyGetPosition(racer->bodies[BODY_REAR_WHEEL]);
    double rear_y = rw[1];
    struct Case {
        const char *name;
        double front_above_rear;    // ft
        double pitch_rate;          // rad/s about the frame's x axis, nose up > 0
        float throttle, clutch, rear_brake;
    } cases[] = {
        {"nose high, steady: rear brake", 1.5, 0, 0, 0, 1},
        {"nose high, dropping slowly", 1.5, -0.3, 0, 0, 1},
        {"nose high, dropping fast", 1.5, -1, 1, 0.125f, 0},
        {"level", 0.5, 0, 0, 0.125f, 0},
        {"nose low and dropping: throttle", -0.5, -0.1, 1, 0.125f, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        dBodySetPosition(racer->bodies[BODY_FRONT_WHEEL], fw[0], rear_y + c.front_above_rear,
                         fw[2]);
        dVector3 w;
        dBodyVectorToWorld(frame, c.pitch_rate, 0, 0, w);
        dBodySetAngularVel(frame, w[0], w[1], w[2]);
        speed_control(racer, 30, 40);
        EXPECT_FLOAT_EQ(racer->throttle, c.throttle);
        EXPECT_FLOAT_EQ(racer->clutch, c.clutch);
        EXPECT_FLOAT_EQ(racer->rear_brake, c.rear_brake);
        EXPECT_FLOAT_EQ(racer->front_brake, 0);
    }
}

TEST_F(PilotRacer, SpeedControlOnTheGround)
{
    racer->wheel_contacts[1].depth = 0.1;
    racer->gear = 2;
    speed_control(racer, 10, 30);
    EXPECT_FLOAT_EQ(racer->throttle, 1);
    EXPECT_FLOAT_EQ(racer->clutch, 1);
    speed_control(racer, 29.5, 30);
    EXPECT_FLOAT_EQ(racer->throttle, 0.5f);
    EXPECT_FLOAT_EQ(racer->front_brake, 0);
    speed_control(racer, 30.25, 30);
    EXPECT_FLOAT_EQ(racer->throttle, 0);
    EXPECT_FLOAT_EQ(racer->front_brake, 0.25f);
    EXPECT_FLOAT_EQ(racer->rear_brake, 0.25f);
}

// In recovery a bike heads for its cursor point at 15 ft/s, but turns round to a
// point behind it at walking pace (5 ft/s), so that the turn stays on the course.
TEST_F(PilotRacer, RecoveryTurnsRoundToAPointBehindAtWalkingPace)
{
    RaceState &race = race_state();
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    for (int behind : {0, 1}) {
        SCOPED_TRACE(behind ? "point behind" : "point ahead");
        std::vector<LinePoint> path;
        float dir = behind ? 1.0f : -1.0f;      // the bike faces -z
        for (int i = 0; i < 40; i++)
            path.push_back(LinePoint{(float)p[0], (float)p[1], (float)(p[2] + dir * (70 + 2 * i)),
                                     30, 0});
        race.frame = 5000 + behind * 2000;
        pilot_give_path(racer, path.data(), (int)path.size(), 2);
        race.frame += 4 * 128;                  // no cursor advance for 4 s
        for (int k = 0; k < 2; k++) {           // into recovery, then one recovery step
            for (dBodyID b : racer->bodies)
                dBodySetLinearVel(b, 0, 0, -8);
            racer->wheel_contacts[1].depth = 0.1;
            auto_pilot_step(racer);
            race.frame++;
        }
        ASSERT_EQ(pilot_recovery(racer), 3);
        EXPECT_FLOAT_EQ(racer->throttle, behind ? 0 : 1);
        EXPECT_FLOAT_EQ(racer->rear_brake, behind ? 1 : 0);
    }
}

// A race on the packed track, which has no line files yet.
class PilotRace : public PackedTrackTest
{
  protected:
    void SetUp() override
    {
        PackedTrackTest::SetUp();
        RaceHooks hooks{};
        install_auto_pilot(&hooks);
        race_set_hooks(&hooks);
    }
    void TearDown() override
    {
        RaceHooks none{};
        race_set_hooks(&none);
        PackedTrackTest::TearDown();
    }
};

TEST_F(PilotRace, WithoutLinesTheBikeWaitsAtTheGateAfterItsReaction)
{
    // Empty line files in the home directory hide the lines the track ships with.
    ASSERT_EQ(load_track("fernbottom"), 1);
    const TimingTables &timing = timing_tables();
    int segments = timing.first_lap_lines + timing.normal_lap_lines;
    free_track();
    std::string empty = "ct03 " + std::to_string(segments) + "\n";
    for (int k = 0; k < segments; k++)
        empty += "0\n";
    for (const char *word : {"novice", "amateur", "expert"})
        ASSERT_TRUE(write_bytes(home + "fernbottom/lines_" + word, empty));
    int codes[RACER_SLOTS] = {};
    codes[0] = LINEUP_AUTO_PILOT;
    ASSERT_TRUE(new_race(codes, false, false, 0, 2, 1));
    const RaceState &race = race_state();
    Racer *r = race.racers[0];
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(race.kind[0], AutoPilot);
    ASSERT_GE(r->personality, 1);
    const dReal *p = dBodyGetPosition(r->bodies[BODY_FRAME]);
    double start[3] = {p[0], p[1], p[2]};
    float go = 0;
    while (race.frame < 20 * 128) {
        game_step();
        if (go == 0)
            go = pilot_go_time(r);
        ASSERT_TRUE(std::isfinite(r->throttle) && std::isfinite(r->steer));
    }
    EXPECT_EQ(pilot_path_length(r), 0);
    double dx = p[0] - start[0], dz = p[2] - start[2];
    EXPECT_LT(std::sqrt(dx * dx + dz * dz), 2.0) << "the bike left the grid";
    EXPECT_FLOAT_EQ(r->front_brake, 1);

    // The go is drawn between the personality's shortest and longest reaction.
    const double reaction[5][2] = {{0, 0}, {0.2, 0.4}, {0.2, 0.4}, {0, 0.1}, {0.2, 0.4}};
    double after_start = go - race.start_frame / 128.0;
    EXPECT_GE(after_start, reaction[r->personality][0] - 1e-4);
    EXPECT_LE(after_start, reaction[r->personality][1] + 1e-4);
}

// On the lines the default track ships with, computer riders of every skill leave
// the gate when it drops and ride on round the course: a dozen gates in two minutes.
TEST_F(PilotRace, OnTheShippedLinesComputerRidersRideTheCourse)
{
    for (int skill = 0; skill < 3; skill++) {
        SCOPED_TRACE(skill);
        int codes[RACER_SLOTS] = {};
        codes[0] = codes[1] = LINEUP_AUTO_PILOT;
        ASSERT_TRUE(new_race(codes, false, false, 0, 1, skill));
        RaceState &race = race_state();
        const int32_t limit = race.start_frame + 120 * 128;
        while (race.frame < limit)
            game_step();
        for (int s = 0; s < 2; s++) {
            ASSERT_NE(race.racers[s], nullptr);
            EXPECT_GE(race.racers[s]->gates.gates_passed, 12);
        }
    }
}

} // namespace
