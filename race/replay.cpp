// Replay history: the packed rider state (encode, decode, blend), putting a replayed
// racer into a recorded pose, and the 160 rings of the last 128 states from which
// network peers, demo riders and the time-trial ghost are posed every frame.
//
// ReplayState, 39 bytes, multi-byte fields little-endian. "Fraction k" is an
// unsigned k-byte integer n standing for n / (2^(8k) - 1), made by clamping the value
// into its range, mapping the range onto [0, 1] and taking floor(v * (2^(8k) - 1)).
// W is the terrain's world size, Ymin its base height.
//   0  3  frame position x            fraction 3 over [0, W]
//   3  3  frame position y            fraction 3 over [Ymin, Ymin + W]
//   6  3  frame position z            fraction 3 over [0, W]
//   9  8  frame quaternion w, x, y, z 4 x fraction 2 over [-1, 1]
//  17  1  steering hinge angle        fraction 1 over [-pi/4, pi/4]
//  18  1  swingarm pivot angle        fraction 1 over [-swingarm travel, 0], bit 0 set
//  19  1  fork slider position        fraction 1 over [-fork travel, 0]; bit 0 is a
//                                     build fingerprint bit, written 0 here
//  20  6  rider minus frame position  3 x fraction 2 over [-16, 16]
//  26  8  rider quaternion w, x, y, z 4 x fraction 2 over [-1, 1]
//  34  1  front wheel hinge angle     fraction 1 over [-pi, pi]
//  35  1  rear wheel hinge angle      fraction 1 over [-pi, pi]
//  36  1  drive byte                  riding: bits 0-2 gear, bit 3 dab animation
//                                     running, bits 4-7 throttle x 15; crashed
//                                     (countdown c): bits 0-2 = 7, bits 4-7 =
//                                     min(15, (15c - 15) / 127)
//  37  2  engine speed                fraction 2 over [0, 32768] rpm
// Version 4 states (26 bytes) have bytes 0-19 as above, then one byte placing the
// rider along its slide range (0 = low end, 255 = high end), then bytes 34-38.
#include "race/replay.h"

#include <cmath>
#include <cstring>

#include "platform/vrak.h"
#include "race/race.h"
#include "sim/drivetrain.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/step.h"
#include "sim/world.h"
#include "track/terrain.h"
#include "track/track.h"

enum {
    OFF_POSITION = 0,
    OFF_ORIENTATION = 9,
    OFF_STEER = 17,
    OFF_SWINGARM = 18,
    OFF_FORK = 19,
    OFF_RIDER_OFFSET = 20,
    OFF_RIDER_ORIENTATION = 26,
    OFF_FRONT_WHEEL = 34,
    OFF_REAR_WHEEL = 35,
    OFF_DRIVE = 36,
    OFF_RPM = 37,
    // Version 4: the rider slide byte, then bytes 34-38 moved down.
    OFF_V4_RIDER = 20,
    OFF_V4_TAIL = 21,
    CRASHED_GEAR = 7,
};

static const double NO_TRACK_SIZE = 1024;   // ft, the space positions use without a track
static const double RIDER_OFFSET_RANGE = 16;
static const double MAX_RPM = 32768;
static const double RPM_PER_RAD_S = 9.549296585513721;

// ---------------------------------------------------------------------------
// Fractions

static uint32_t fraction_max(int bytes)
{
    return bytes >= 4 ? 0xffffffffu : (1u << (8 * bytes)) - 1;
}

static uint32_t get_le(const uint8_t *p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

static void put_le(uint8_t *p, int bytes, uint32_t v)
{
    for (int i = 0; i < bytes; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}

static void put_fraction(uint8_t *p, int bytes, double v, double lo, double hi)
{
    double u = (v - lo) / (hi - lo);
    if (!(u > 0))   // NaN too
        u = 0;
    if (u > 1)
        u = 1;
    put_le(p, bytes, (uint32_t)floor(u * fraction_max(bytes)));
}

static double get_fraction(const uint8_t *p, int bytes, double lo, double hi)
{
    return lo + (hi - lo) * get_le(p, bytes) / fraction_max(bytes);
}

// ---------------------------------------------------------------------------
// Quaternions (w, x, y, z)

static void normalise_quaternion(double q[4])
{
    double n = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!(n > 1e-12) || !std::isfinite(n)) {
        q[0] = 1;
        q[1] = q[2] = q[3] = 0;
        return;
    }
    for (int i = 0; i < 4; i++)
        q[i] /= n;
}

// v turned by the unit quaternion q.
static void rotate_vector(const double q[4], const double v[3], double out[3])
{
    double w = q[0], x = q[1], y = q[2], z = q[3];
    double t[3] = {2 * (y * v[2] - z * v[1]), 2 * (z * v[0] - x * v[2]),
                   2 * (x * v[1] - y * v[0])};
    out[0] = v[0] + w * t[0] + (y * t[2] - z * t[1]);
    out[1] = v[1] + w * t[1] + (z * t[0] - x * t[2]);
    out[2] = v[2] + w * t[2] + (x * t[1] - y * t[0]);
}

// ---------------------------------------------------------------------------
// Encoding and decoding

struct ReplaySpace {
    double size, base;
};

static ReplaySpace replay_space()
{
    const Terrain *t = track_terrain();
    if (t && t->extent > 0)
        return {t->extent, t->min_height};
    return {NO_TRACK_SIZE, 0};
}

struct DecodedState {
    double position[3];
    double orientation[4];
    double steer, swingarm, fork;
    RiderPlacement rider;
    double front_wheel, rear_wheel;
    uint8_t drive;
    double rpm;
};

static void put_quaternion(uint8_t *p, const double q[4])
{
    for (int i = 0; i < 4; i++)
        put_fraction(p + 2 * i, 2, q[i], -1, 1);
}

static void get_quaternion(const uint8_t *p, double q[4])
{
    for (int i = 0; i < 4; i++)
        q[i] = get_fraction(p + 2 * i, 2, -1, 1);
    normalise_quaternion(q);
}

static uint8_t drive_byte(const Racer *r)
{
    int c = r->crash_countdown;
    if (c > 0) {
        int level = (15 * c - 15) / 127;
        return (uint8_t)(CRASHED_GEAR | (level < 15 ? level : 15) << 4);
    }
    int gear = r->gear < 0 ? 0 : r->gear > 6 ? 6 : r->gear;
    double throttle = r->throttle < 0 ? 0 : r->throttle > 1 ? 1 : r->throttle;
    int level = (int)(throttle * 15);
    return (uint8_t)(gear | (r->dab_anim > 0 ? 8 : 0) | level << 4);
}

ReplayState encode_state(const Racer *racer)
{
    ReplayState s = {};
    if (!racer || !racer->bodies[BODY_FRAME])
        return s;
    uint8_t *b = s.bytes;
    ReplaySpace space = replay_space();
    const BikeModel &m = racer->model;

    dBodyID frame = racer->bodies[BODY_FRAME], rider = racer->bodies[BODY_RIDER];
    const dReal *p = dBodyGetPosition(frame);
    put_fraction(b + OFF_POSITION, 3, p[0], 0, space.size);
    put_fraction(b + OFF_POSITION + 3, 3, p[1], space.base, space.base + space.size);
    put_fraction(b + OFF_POSITION + 6, 3, p[2], 0, space.size);
    const dReal *q = dBodyGetQuaternion(frame);
    double fq[4] = {q[0], q[1], q[2], q[3]};
    put_quaternion(b + OFF_ORIENTATION, fq);

    put_fraction(b + OFF_STEER, 1, steering_angle(racer), -M_PI / 4, M_PI / 4);
    put_fraction(b + OFF_SWINGARM, 1, swingarm_angle(racer), -m.swingarm_travel, 0);
    b[OFF_SWINGARM] |= 1;
    put_fraction(b + OFF_FORK, 1, fork_position(racer), -m.fork_travel, 0);
    b[OFF_FORK] &= ~1;

    const dReal *rp = dBodyGetPosition(rider);
    for (int k = 0; k < 3; k++)
        put_fraction(b + OFF_RIDER_OFFSET + 2 * k, 2, rp[k] - p[k], -RIDER_OFFSET_RANGE,
                     RIDER_OFFSET_RANGE);
    const dReal *rq = dBodyGetQuaternion(rider);
    double rider_q[4] = {rq[0], rq[1], rq[2], rq[3]};
    put_quaternion(b + OFF_RIDER_ORIENTATION, rider_q);

    put_fraction(b + OFF_FRONT_WHEEL, 1, dJointGetHingeAngle(racer->joints[JOINT_FRONT_AXLE]),
                 -M_PI, M_PI);
    put_fraction(b + OFF_REAR_WHEEL, 1, dJointGetHingeAngle(racer->joints[JOINT_REAR_AXLE]),
                 -M_PI, M_PI);
    b[OFF_DRIVE] = drive_byte(racer);
    put_fraction(b + OFF_RPM, 2, racer->engine_speed * RPM_PER_RAD_S, 0, MAX_RPM);
    return s;
}

static void decode_state(const ReplayState &s, int version, const BikeModel &m, DecodedState *d)
{
    const uint8_t *b = s.bytes;
    ReplaySpace space = replay_space();
    d->position[0] = get_fraction(b + OFF_POSITION, 3, 0, space.size);
    d->position[1] = get_fraction(b + OFF_POSITION + 3, 3, space.base, space.base + space.size);
    d->position[2] = get_fraction(b + OFF_POSITION + 6, 3, 0, space.size);
    get_quaternion(b + OFF_ORIENTATION, d->orientation);
    d->steer = get_fraction(b + OFF_STEER, 1, -M_PI / 4, M_PI / 4);
    d->swingarm = get_fraction(b + OFF_SWINGARM, 1, -m.swingarm_travel, 0);
    d->fork = get_fraction(b + OFF_FORK, 1, -m.fork_travel, 0);

    const uint8_t *tail = b + OFF_FRONT_WHEEL;
    d->rider = RiderPlacement{};
    if (version == 4) {
        // The old record only slides the rider along its range on the seat.
        d->rider.by_slide = true;
        d->rider.slide = b[OFF_V4_RIDER] / 255.0;
        tail = b + OFF_V4_TAIL;
    } else {
        for (int k = 0; k < 3; k++)
            d->rider.offset[k] = get_fraction(b + OFF_RIDER_OFFSET + 2 * k, 2,
                                              -RIDER_OFFSET_RANGE, RIDER_OFFSET_RANGE);
        get_quaternion(b + OFF_RIDER_ORIENTATION, d->rider.orientation);
    }
    d->front_wheel = get_fraction(tail, 1, -M_PI, M_PI);
    d->rear_wheel = get_fraction(tail + 1, 1, -M_PI, M_PI);
    d->drive = tail[2];
    d->rpm = get_fraction(tail + 3, 2, 0, MAX_RPM);
}

// World offset of the rider from the frame for a version-4 slide placement.
static void slide_offset(const BikeModel &m, const DecodedState &d, double out[3])
{
    const BikeVec3 &axis = m.rider_slide_axis;
    double alen = sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    double u = m.rider_slide_low + (m.rider_slide_high - m.rider_slide_low) * d.rider.slide;
    double w = alen > 0 ? u / alen : 0;
    double local[3] = {m.rider_position.x + w * axis.x - m.frame_position.x,
                       m.rider_position.y + w * axis.y - m.frame_position.y,
                       m.rider_position.z + w * axis.z - m.frame_position.z};
    rotate_vector(d.orientation, local, out);
}

// ---------------------------------------------------------------------------
// Blending

static double mix(double a, double b, double t)
{
    return a + (b - a) * t;
}

static void blend_fraction(uint8_t *out, const uint8_t *a, const uint8_t *b, int bytes, double t)
{
    double v = floor(mix(get_le(a, bytes), get_le(b, bytes), t));
    double top = fraction_max(bytes);
    put_le(out, bytes, (uint32_t)(v < 0 ? 0 : v > top ? top : v));
}

static void blend_quaternion(uint8_t *out, const uint8_t *a, const uint8_t *b, double t)
{
    double qa[4], qb[4], q[4];
    for (int i = 0; i < 4; i++) {
        qa[i] = get_fraction(a + 2 * i, 2, -1, 1);
        qb[i] = get_fraction(b + 2 * i, 2, -1, 1);
    }
    double dot = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
    if (dot < 0) {
        for (double &c : qa)
            c = -c;
    }
    for (int i = 0; i < 4; i++)
        q[i] = mix(qa[i], qb[i], t);
    normalise_quaternion(q);
    put_quaternion(out, q);
}

// Wheel angles as fractions of a turn: the wheels are taken to turn forwards, or
// backwards by less than an eighth of a turn, so 0.95 -> 0.05 runs through 1.0.
static uint8_t blend_wheel(uint8_t a_byte, uint8_t b_byte, double t)
{
    double a = a_byte / 255.0, b = b_byte / 255.0;
    if (b < a - 0.125)
        a -= 1;
    else if (b > a + 0.875)
        b -= 1;
    double v = mix(a, b, t);
    if (v < 0)
        v += 1;
    v = v < 0 ? 0 : v > 1 ? 1 : v;
    return (uint8_t)floor(v * 255);
}

ReplayState blend_states(const ReplayState &a, const ReplayState &b, double t, int version)
{
    if (t == 0 || version == 4 || !std::isfinite(t))
        return a;
    ReplayState s = a;
    // Positions follow the unlimited t, so a state can be carried forwards.
    for (int k = 0; k < 3; k++)
        blend_fraction(s.bytes + OFF_POSITION + 3 * k, a.bytes + OFF_POSITION + 3 * k,
                       b.bytes + OFF_POSITION + 3 * k, 3, t);
    if (t > 1)
        t = 1;
    blend_quaternion(s.bytes + OFF_ORIENTATION, a.bytes + OFF_ORIENTATION,
                     b.bytes + OFF_ORIENTATION, t);
    for (int k = OFF_STEER; k <= OFF_FORK; k++)
        blend_fraction(s.bytes + k, a.bytes + k, b.bytes + k, 1, t);
    s.bytes[OFF_SWINGARM] |= 1;
    s.bytes[OFF_FORK] = (uint8_t)((s.bytes[OFF_FORK] & ~1) | (a.bytes[OFF_FORK] & 1));
    for (int k = 0; k < 3; k++)
        blend_fraction(s.bytes + OFF_RIDER_OFFSET + 2 * k, a.bytes + OFF_RIDER_OFFSET + 2 * k,
                       b.bytes + OFF_RIDER_OFFSET + 2 * k, 2, t);
    blend_quaternion(s.bytes + OFF_RIDER_ORIENTATION, a.bytes + OFF_RIDER_ORIENTATION,
                     b.bytes + OFF_RIDER_ORIENTATION, t);
    s.bytes[OFF_FRONT_WHEEL] = blend_wheel(a.bytes[OFF_FRONT_WHEEL], b.bytes[OFF_FRONT_WHEEL], t);
    s.bytes[OFF_REAR_WHEEL] = blend_wheel(a.bytes[OFF_REAR_WHEEL], b.bytes[OFF_REAR_WHEEL], t);
    s.bytes[OFF_DRIVE] = a.bytes[OFF_DRIVE];
    blend_fraction(s.bytes + OFF_RPM, a.bytes + OFF_RPM, b.bytes + OFF_RPM, 2, t);
    return s;
}

// ---------------------------------------------------------------------------
// Applying a state to a racer

static void place(Racer *r, const DecodedState &d)
{
    pose_racer(r, d.position, d.orientation, d.steer, d.swingarm, d.fork, &d.rider, d.front_wheel,
               d.rear_wheel);
}

// A replayed rider must not sink into the ground the recording was made over.
static void lift_out_of_ground(Racer *r)
{
    const Terrain *t = track_terrain();
    if (!t)
        return;
    const WheelRecord &w = r->model.rear_wheel;
    double radius = w.tyre_centre_radius + w.tyre_section_radius;
    const dReal *c = dBodyGetPosition(r->bodies[BODY_REAR_WHEEL]);
    const dReal *R = dBodyGetRotation(r->bodies[BODY_FRAME]);
    // The frame's up axis is the second column of its rotation.
    double bottom[3] = {c[0] - radius * R[1], c[1] - radius * R[5], c[2] - radius * R[9]};
    double ground = terrain_height(t, (float)bottom[0], (float)bottom[2]);
    if (bottom[1] < ground)
        move_racer(r, 0, ground - bottom[1], 0);
}

static void apply_drive(Racer *r, uint8_t drive)
{
    int level = drive >> 4;
    if ((drive & 7) == CRASHED_GEAR) {
        // The legs leave the pegs from where the feet are, as in a live crash.
        if (r->crash_countdown == 0)
            legs_on_feet(r);
        r->crash_countdown = level * 127 / 15 + 1;
        r->throttle = 0;
    } else {
        r->crash_countdown = 0;
        int gear = drive & 7;
        r->gear = existing_gear(&r->model, gear > 5 ? 5 : gear);
        r->throttle = (float)(level / 15.0);
    }
    if ((drive & 7) == CRASHED_GEAR || (drive & 8)) {
        r->dab_anim += (float)(8 * PHYSICS_TICK);
        if (r->dab_anim > 1)
            r->dab_anim = 1;
    }
}

void apply_state(Racer *racer, const ReplayState &pose, const ReplayState &earlier,
                 const ReplayState &later, int n, int version)
{
    if (!racer || !racer->bodies[BODY_FRAME])
        return;
    const BikeModel &m = racer->model;
    DecodedState p, e, l;
    decode_state(pose, version, m, &p);
    decode_state(earlier, version, m, &e);
    decode_state(later, version, m, &l);
    if (n < 1)
        n = 1;

    if (is_racer_active(racer)) {
        FollowPose f = {};
        memcpy(f.position, p.position, sizeof f.position);
        memcpy(f.orientation, p.orientation, sizeof f.orientation);
        f.steer = p.steer;
        if (p.rider.by_slide)
            slide_offset(m, p, f.rider_offset);
        else
            memcpy(f.rider_offset, p.rider.offset, sizeof f.rider_offset);
        f.engine_rpm = p.rpm;
        f.drive = p.drive;
        follow_pose(racer, &f, e.position, l.position, n);
        return;
    }

    double from[RACER_BODY_COUNT][3], from_q[RACER_BODY_COUNT][4];
    place(racer, e);
    for (int i = 0; i < RACER_BODY_COUNT; i++) {
        const dReal *bp = dBodyGetPosition(racer->bodies[i]);
        const dReal *bq = dBodyGetQuaternion(racer->bodies[i]);
        for (int k = 0; k < 3; k++)
            from[i][k] = bp[k];
        for (int k = 0; k < 4; k++)
            from_q[i][k] = bq[k];
    }
    place(racer, l);
    double velocity[RACER_BODY_COUNT][3], spin[RACER_BODY_COUNT][3];
    double span = n * PHYSICS_TICK;
    for (int i = 0; i < RACER_BODY_COUNT; i++) {
        const dReal *bp = dBodyGetPosition(racer->bodies[i]);
        const dReal *bq = dBodyGetQuaternion(racer->bodies[i]);
        double to_q[4] = {bq[0], bq[1], bq[2], bq[3]};
        for (int k = 0; k < 3; k++)
            velocity[i][k] = (bp[k] - from[i][k]) / span;
        rotation_between(from_q[i], to_q, spin[i]);
        for (int k = 0; k < 3; k++)
            spin[i][k] /= span;
    }
    place(racer, p);
    for (int i = 0; i < RACER_BODY_COUNT; i++) {
        dBodySetLinearVel(racer->bodies[i], velocity[i][0], velocity[i][1], velocity[i][2]);
        dBodySetAngularVel(racer->bodies[i], spin[i][0], spin[i][1], spin[i][2]);
    }
    lift_out_of_ground(racer);
    apply_drive(racer, p.drive);
    racer->engine_speed = p.rpm * M_PI / 30;
}

// ---------------------------------------------------------------------------
// History rings

struct HistoryEntry {
    int32_t frame;      // -1 = empty
    ReplayState state;
};

struct HistoryRing {
    HistoryEntry entries[HISTORY_LENGTH];
    int head;           // newest entry
    int unsaved;        // entries added since the demo writer last saved this slot
};

static struct {
    HistoryRing rings[RACER_SLOTS];
    int version;
    bool ready;
} hist;

static void ensure_ready()
{
    if (!hist.ready)
        clear_history();
}

static int wrap(int i)
{
    return i & (HISTORY_LENGTH - 1);
}

static bool valid_slot(int slot)
{
    return slot >= 0 && slot < RACER_SLOTS;
}

void clear_slot_history(int slot)
{
    if (!valid_slot(slot))
        return;
    HistoryRing &r = hist.rings[slot];
    for (HistoryEntry &e : r.entries) {
        e.frame = -1;
        memset(e.state.bytes, 0, sizeof e.state.bytes);
    }
    r.head = 0;
    r.unsaved = 0;
}

void clear_history()
{
    if (!hist.ready)
        hist.version = 5;
    hist.ready = true;
    for (int s = 0; s < RACER_SLOTS; s++)
        clear_slot_history(s);
}

void add_state_to_history(int slot, const ReplayState &state, int32_t frame)
{
    ensure_ready();
    if (!valid_slot(slot)) {
        // The caller's mistake or a bad packet; storing it would write past the table.
        vrak_log("add_state_to_history: slot out of range\n");
        return;
    }
    if (frame < 0)
        return;
    HistoryRing &r = hist.rings[slot];
    int k = 0;
    for (; k < HISTORY_LENGTH; k++) {
        if (r.entries[wrap(r.head - k)].frame <= frame)
            break;
    }
    // Older than everything a full ring holds: it would be overwritten at once.
    if (k == HISTORY_LENGTH)
        return;
    if (r.entries[wrap(r.head - k)].frame == frame)
        return;
    // The k newer entries move one place towards the head; the oldest entry goes.
    for (int i = 0; i < k; i++)
        r.entries[wrap(r.head - i + 1)] = r.entries[wrap(r.head - i)];
    r.entries[wrap(r.head - k + 1)] = {frame, state};
    r.head = wrap(r.head + 1);
    if (r.unsaved < HISTORY_LENGTH)
        r.unsaved++;
}

bool sample_pose(int slot, int32_t frame, HistorySample *out)
{
    ensure_ready();
    if (!valid_slot(slot))
        return false;
    const HistoryRing &r = hist.rings[slot];
    const HistoryEntry *e = r.entries;
    if (e[r.head].frame < 0)
        return false;
    if (frame < 0)
        frame = 0;

    // The newest entry earlier than the frame; k = HISTORY_LENGTH when none is.
    int k = 0;
    bool hit_empty = false;
    for (; k < HISTORY_LENGTH; k++) {
        int32_t f = e[wrap(r.head - k)].frame;
        if (f < 0) {
            hit_empty = true;
            break;
        }
        if (f < frame)
            break;
    }
    int earlier, later;
    if (k == 0) {
        later = r.head;
        earlier = e[wrap(r.head - 1)].frame >= 0 ? wrap(r.head - 1) : r.head;
    } else if (k < HISTORY_LENGTH && !hit_empty) {
        earlier = wrap(r.head - k);
        later = wrap(earlier + 1);
    } else {
        // Every state is at or after the frame: the two oldest ones.
        earlier = hit_empty ? wrap(r.head - k + 1) : wrap(r.head + 1);
        later = earlier == r.head ? earlier : wrap(earlier + 1);
    }

    const HistoryEntry &a = e[earlier], &b = e[later];
    out->earlier = a.state;
    out->later = b.state;
    out->earlier_frame = a.frame;
    out->later_frame = b.frame;
    int span = b.frame - a.frame;
    out->frames_between = span > 0 ? span : 1;
    if (a.frame < frame && span != 0) {
        if (frame == b.frame) {
            out->pose = b.state;
        } else {
            int32_t until = b.frame + HISTORY_EXTRAPOLATION_FRAMES;
            double t = (double)((frame < until ? frame : until) - a.frame) / span;
            out->pose = blend_states(a.state, b.state, t, hist.version);
        }
    } else {
        out->pose = a.state;
    }
    return true;
}

void sample_history(int slot, int32_t frame)
{
    HistorySample s;
    if (!sample_pose(slot, frame, &s))
        return;
    Racer *racer = race_state().racers[slot];
    if (!racer)
        return;
    apply_state(racer, s.pose, s.earlier, s.later, s.frames_between, hist.version);
}

int32_t history_newest_frame(int slot)
{
    ensure_ready();
    if (!valid_slot(slot))
        return -1;
    const HistoryRing &r = hist.rings[slot];
    return r.entries[r.head].frame;
}

bool history_bracket(int slot, int32_t frame, int32_t *earlier, int32_t *later)
{
    HistorySample s;
    if (!sample_pose(slot, frame, &s))
        return false;
    *earlier = s.earlier_frame;
    *later = s.later_frame;
    return true;
}

int history_unsaved(int slot)
{
    ensure_ready();
    return valid_slot(slot) ? hist.rings[slot].unsaved : 0;
}

void history_unsaved_entry(int slot, int i, int32_t *frame, ReplayState *state)
{
    ensure_ready();
    if (!valid_slot(slot) || i < 0 || i >= hist.rings[slot].unsaved) {
        *frame = -1;
        *state = ReplayState{};
        return;
    }
    const HistoryRing &r = hist.rings[slot];
    const HistoryEntry &e = r.entries[wrap(r.head - (r.unsaved - 1) + i)];
    *frame = e.frame;
    *state = e.state;
}

void history_mark_saved(int slot)
{
    ensure_ready();
    if (valid_slot(slot))
        hist.rings[slot].unsaved = 0;
}

void set_history_version(int version)
{
    ensure_ready();
    hist.version = version;
}

int history_version()
{
    ensure_ready();
    return hist.version;
}
