// The crash half of the racer step: the two tests that throw the rider off, the
// crashed sequence (tethers while the rider slides, the count-down once at rest,
// the pull back onto the seat and the re-mount) and the two leg points that the
// drawing code hangs the rider's legs from.
#include <cmath>

#include "sim/assists.h"
#include "sim/contact.h"
#include "sim/racer_joints.h"
#include "sim/step_local.h"
#include "sim/world.h"
#include "track/terrain.h"

// Rider-body points and limb lengths of the rider model.
static const double HANDS[2][3] = {{-0.556, 0.580375, -0.654514}, {0.556, 0.580375, -0.654514}};
static const double HIPS[2][3] = {{-0.269, -0.570887, 0.670607}, {0.269, -0.570887, 0.670607}};
static const double GRIPS[2][3] = {{-1.097, 1.145, 0.753}, {1.097, 1.145, 0.753}};    // fork upper
static const double PEGS[2][3] = {{-0.6, -0.557, 0.584}, {0.6, -0.557, 0.584}};       // frame
static const double UPPER_ARM = 0.9, FOREARM = 1.15, THIGH = 1.328, SHIN = 1.701;

// Past these the rider body cannot have stayed on the bike (ft/s, ft/s², squared).
static const double SLIP_LIMIT_SQ = 961;
static const double ACCELERATION_LIMIT_SQ = 1893376;

double step_ground_height(const Terrain *terrain, double x, double z)
{
    return terrain ? terrain_height(terrain, (float)x, (float)z) : 0;
}

bool crash_by_velocity(const double rider_velocity[3], const double frame_velocity_at_rider[3])
{
    double d[3];
    for (int k = 0; k < 3; k++)
        d[k] = rider_velocity[k] - frame_velocity_at_rider[k];
    return step_dot(d, d) > SLIP_LIMIT_SQ;
}

bool crash_by_acceleration(const double rider_velocity[3], const double previous[3])
{
    double a[3];
    for (int k = 0; k < 3; k++)
        a[k] = (rider_velocity[k] - previous[k]) * 0.25 / PHYSICS_TICK;
    a[1] += PHYSICS_GRAVITY;
    return step_dot(a, a) > ACCELERATION_LIMIT_SQ;
}

void racer_feet(const Racer *racer, double feet[2][3])
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    int k = racer->crash_countdown;
    for (int i = 0; i < 2; i++) {
        double t[3] = {PEGS[i][0], PEGS[i][1], PEGS[i][2]};
        if (k >= 1) {
            // The feet leave the pegs, spread, rise and move back as a crash goes on.
            double q = k < 128 ? k : 128;
            double sx = 0.5 * step_clamp(2 * q / 128 - 1, 0, 1);
            double sy = step_clamp(2 * q / 128, 0, 1);
            double sz = step_clamp(q / 128 * 4 / 3, 0, 1);
            t[0] += i == 0 ? -sx : sx;
            t[1] += 1.75 * sy;
            t[2] += sz;
        }
        dVector3 w;
        dBodyGetRelPointPos(frame, t[0], t[1], t[2], w);
        for (int c = 0; c < 3; c++)
            feet[i][c] = w[c];
    }
}

void legs_on_feet(Racer *racer)
{
    double feet[2][3];
    racer_feet(racer, feet);
    dBodyID rider = racer->bodies[BODY_RIDER];
    for (int i = 0; i < 2; i++) {
        dVector3 v;
        dBodyGetPointVel(rider, feet[i][0], feet[i][1], feet[i][2], v);
        for (int c = 0; c < 3; c++) {
            racer->leg_points[i].position[c] = feet[i][c];
            racer->leg_points[i].velocity[c] = v[c];
        }
    }
}

static void throw_rider(Racer *racer, const StepContext *ctx)
{
    detach_rider_mount(racer);
    legs_on_feet(racer);
    int slot = racer->crash_count < 0 ? 0 : racer->crash_count > 15 ? 15 : racer->crash_count;
    int delay = ctx && ctx->knockout_delays ? ctx->knockout_delays[slot] : 0;
    racer->crash_countdown = CRASH_TICKS + (delay > 0 ? delay : 0);
    racer->crash_count++;
}

void step_detect_crash(Racer *racer, const StepContext *ctx)
{
    // A contact's request (landing on the head, hitting an object) is acted on once.
    bool requested = racer->crash_requested;
    racer->crash_requested = false;
    if (racer->crash_countdown != 0)
        return;
    dBodyID rider = racer->bodies[BODY_RIDER];
    const dReal *rp = dBodyGetPosition(rider);
    const dReal *rv = dBodyGetLinearVel(rider);
    double v[3] = {rv[0], rv[1], rv[2]};
    dVector3 fv;
    dBodyGetPointVel(racer->bodies[BODY_FRAME], rp[0], rp[1], rp[2], fv);
    double frame_v[3] = {fv[0], fv[1], fv[2]};
    int tick = ctx ? ctx->tick : 0;
    const double *previous = racer->velocity_history[((tick % 4) + 4) % 4];
    if (requested || crash_by_velocity(v, frame_v) || crash_by_acceleration(v, previous))
        throw_rider(racer, ctx);
}

void seat_rider(Racer *racer)
{
    const BikeModel &m = racer->model;
    dBodyID frame = racer->bodies[BODY_FRAME];
    dBodyID rider = racer->bodies[BODY_RIDER];
    dVector3 seat;
    dBodyGetRelPointPos(frame, m.rider_position.x - m.frame_position.x,
                        m.rider_position.y - m.frame_position.y,
                        m.rider_position.z - m.frame_position.z, seat);
    dBodySetPosition(rider, seat[0], seat[1], seat[2]);
    dBodySetRotation(rider, dBodyGetRotation(frame));
    attach_rider_mount(racer);
}

// The leg on the low side walks back to its footpeg.
static void steer_leg_to_peg(Racer *racer, double roll)
{
    int side = roll < 0 ? 0 : 1;
    dVector3 target;
    dBodyGetRelPointPos(racer->bodies[BODY_FRAME], PEGS[side][0], PEGS[side][1] + 3,
                        PEGS[side][2] + 1, target);
    RacerLegPoint &leg = racer->leg_points[side];
    double d[3];
    for (int c = 0; c < 3; c++)
        d[c] = (target[c] - leg.position[c]) * 32;
    double len = step_length(d);
    for (int c = 0; c < 3; c++)
        leg.velocity[c] = 4 * (len > 1 ? d[c] / len : d[c]);
}

void step_crashed_sequence(Racer *racer)
{
    const BikeModel &m = racer->model;
    dBodyID frame = racer->bodies[BODY_FRAME];
    dBodyID rider = racer->bodies[BODY_RIDER];
    dBodyID fork = racer->bodies[BODY_FORK_UPPER];

    if (step_body_speed(rider) > 2) {
        // Still sliding: the hands keep hold of the bars and the rider stays near.
        for (int i = 0; i < 2; i++)
            tether(rider, HANDS[i], fork, GRIPS[i], 0.875 * (UPPER_ARM + FOREARM));
        if (racer->crash_countdown > CRASH_TICKS - 1) {
            static const double seat_point[3] = {0, -0.570887, 0.670607};
            static const double behind_bars[3] = {0, 1.145, 10.753};
            tether(rider, seat_point, fork, behind_bars, 8);
        }
        const Shape *rs = racer->shapes[BODY_RIDER];
        for (int part : {BODY_FRAME, BODY_FORK_UPPER}) {
            const Shape *ps = racer->shapes[part];
            if (!rs || !ps)
                continue;
            dBodyID pb = racer->bodies[part];
            const dReal *p1 = dBodyGetPosition(rider), *p2 = dBodyGetPosition(pb);
            double pos1[3] = {p1[0], p1[1], p1[2]}, pos2[3] = {p2[0], p2[1], p2[2]};
            double rot1[12], rot2[12];
            for (int k = 0; k < 12; k++) {
                rot1[k] = dBodyGetRotation(rider)[k];
                rot2[k] = dBodyGetRotation(pb)[k];
            }
            shape_contacts(rs, rider, pos1, rot1, ps, pb, pos2, rot2, CONTACT_JOINT);
        }
    } else {
        racer->crash_countdown--;
        if (racer->crash_countdown <= 0) {
            racer->crash_countdown = 0;
            seat_rider(racer);
            return;
        }
    }

    if (racer->crash_countdown <= CRASH_TICKS - 1) {
        // The last seconds: the rider is drawn back onto the seat, in place and in
        // orientation, as the limit closes.
        double limit = 5 * step_clamp((racer->crash_countdown - 128) / 384.0, 0, 1);
        double s[3] = {m.rider_position.x - m.frame_position.x,
                       m.rider_position.y - m.frame_position.y,
                       m.rider_position.z - m.frame_position.z};
        static const double centre[3] = {0, 0, 0};
        tether(frame, s, rider, centre, limit);
        for (double side : {-5.0, 5.0}) {
            double fp[3] = {s[0] + side, s[1] + 10, s[2]};
            double rp[3] = {side, 10, 0};
            tether(frame, fp, rider, rp, limit);
        }
        if (racer->crash_countdown <= 319)
            steer_leg_to_peg(racer, roll_angle(frame));
    }
}

// Moves a leg point onto a correction and gives it the rider body's velocity along
// the correction's direction.
static void correct_leg(dBodyID rider, RacerLegPoint *leg, const double moved[3],
                        const double direction[3])
{
    for (int c = 0; c < 3; c++)
        leg->position[c] = moved[c];
    dVector3 rv;
    dBodyGetPointVel(rider, moved[0], moved[1], moved[2], rv);
    double along = step_dot(leg->velocity, direction);
    double rider_along = rv[0] * direction[0] + rv[1] * direction[1] + rv[2] * direction[2];
    for (int c = 0; c < 3; c++)
        leg->velocity[c] += (rider_along - along) * direction[c];
}

void step_leg_points(Racer *racer, const StepContext *ctx)
{
    const double h = PHYSICS_TICK;
    racer->dab_anim -= (float)(4 * h);
    if (racer->dab_anim < 0)
        racer->dab_anim = 0;
    if (racer->crash_countdown <= 0) {
        legs_on_feet(racer);
        return;
    }
    dBodyID rider = racer->bodies[BODY_RIDER];
    const Terrain *terrain = ctx ? ctx->terrain : nullptr;
    dVector3 down;
    dBodyVectorToWorld(rider, 0, -1, 0, down);
    double n[3] = {down[0], down[1], down[2]};
    for (int i = 0; i < 2; i++) {
        RacerLegPoint &leg = racer->leg_points[i];
        for (int c = 0; c < 3; c++)
            leg.position[c] += leg.velocity[c] * h;
        leg.velocity[1] -= PHYSICS_GRAVITY * h;
        double floor = step_ground_height(terrain, leg.position[0], leg.position[2]) + 0.25;
        if (leg.position[1] < floor) {
            leg.position[1] = floor;
            for (double &c : leg.velocity)
                c = 0;
        }
        for (double &c : leg.velocity)
            c *= 0.9375;

        dVector3 hip;
        dBodyGetRelPointPos(rider, HIPS[i][0], HIPS[i][1], HIPS[i][2], hip);
        double d[3] = {leg.position[0] - hip[0], leg.position[1] - hip[1],
                       leg.position[2] - hip[2]};
        double dist = step_length(d);
        const double reach = THIGH + SHIN;
        if (dist > reach) {
            double dir[3] = {d[0] / dist, d[1] / dist, d[2] / dist};
            double moved[3] = {hip[0] + dir[0] * reach, hip[1] + dir[1] * reach,
                               hip[2] + dir[2] * reach};
            correct_leg(rider, &leg, moved, dir);
        }
        // The legs hang below the hips, never above the plane a foot lower.
        double rel[3] = {leg.position[0] - hip[0] - n[0], leg.position[1] - hip[1] - n[1],
                         leg.position[2] - hip[2] - n[2]};
        double side = step_dot(rel, n);
        if (side < 0) {
            double moved[3] = {leg.position[0] - side * n[0], leg.position[1] - side * n[1],
                               leg.position[2] - side * n[2]};
            correct_leg(rider, &leg, moved, n);
        }
    }
}
