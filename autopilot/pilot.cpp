// The auto pilot's frame: per-slot driving state, personalities, the start at the
// gate, path progress, and what line learning and the auto-align ask of the path.
// Planning lives in pilot_plan.cpp, the controller in pilot_drive.cpp.
#include "autopilot/pilot.h"

#include <cmath>
#include <cstring>

#include "autopilot/lines.h"
#include "autopilot/pilot_local.h"
#include "core/common.h"
#include "platform/vrak.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "sim/drivetrain.h"
#include "sim/racer.h"
#include "track/gates.h"

const Personality pilot_personalities[5] = {
    {"empty", 0, 0, 0.0f, 0.0f, 0.0f},
    {"brask", 0, 0, 1.0f, 0.2f, 0.4f},
    {"dorran", 2, 1, 10.0f, 0.2f, 0.4f},
    {"tolvo", 1, 0, 10.0f, 0.0f, 0.1f},
    {"tester", 3, 3, 1.0f, 0.2f, 0.4f},
};

static struct {
    PilotState slots[PILOT_SLOTS];
} pilot;

PilotState *pilot_state(const Racer *racer)
{
    if (!racer || racer->gates.slot < 0 || racer->gates.slot >= PILOT_SLOTS)
        return nullptr;
    return &pilot.slots[racer->gates.slot];
}

static double clampd(double x, double lo, double hi)
{
    return x < lo ? lo : x > hi ? hi : x;
}

// Uniform in [lo, hi] from the program's one generator.
static double random_between(double lo, double hi)
{
    return lo + (hi - lo) * (random_u32() / 4294967296.0);
}

void reset_pilot(Racer *racer)
{
    PilotState *st = pilot_state(racer);
    if (!st)
        return;
    st->path.clear();
    st->cursor = 0;
    st->advance_frame = 0;
    st->recovery = 0;
    st->next_segment = 0;
    st->blip_on = false;
    st->blip_until = 0;
    st->idle_until = 0;
    st->go_time = 0;
    st->pilot_throttle = 0;
    st->grip_limit_frame = -1000000;
    st->marshal_frame = 0;
    st->racer = racer;
    st->last_frame = race_state().frame;
    ring_clear(racer->gates.slot);
}

void set_personality(Racer *racer, const char *name)
{
    int index = 0;
    for (int i = 1; i < 5 && name; i++)
        if (strcmp(pilot_personalities[i].name, name) == 0)
            index = i;
    if (index == 0) {
        vrak_log("auto pilot personality '%.512s' not found\n", name ? name : "");
        index = 1;
    }
    racer->personality = index;
    // A personality is given when the racer is created: its driving starts afresh.
    reset_pilot(racer);
}

int pilot_skill(int personality, float lead_seconds)
{
    if (personality < 0 || personality >= 5)
        personality = 1;
    const Personality &p = pilot_personalities[personality];
    return lead_seconds > p.lead_threshold ? p.skill_leading : p.skill_close;
}

int pilot_path_length(const Racer *racer)
{
    const PilotState *st = pilot_state(racer);
    return st ? (int)st->path.size() : 0;
}

const LinePoint *pilot_path_point(const Racer *racer, int i)
{
    const PilotState *st = pilot_state(racer);
    return st && !st->path.empty() ? &path_point(*st, i) : nullptr;
}

int pilot_cursor(const Racer *racer)
{
    const PilotState *st = pilot_state(racer);
    return st ? st->cursor : 0;
}

int32_t pilot_marshal_frame(const Racer *racer)
{
    const PilotState *st = pilot_state(racer);
    return st && st->racer == racer ? st->marshal_frame : 0;
}

int pilot_recovery(const Racer *racer)
{
    const PilotState *st = pilot_state(racer);
    return st ? st->recovery : 0;
}

float pilot_go_time(const Racer *racer)
{
    const PilotState *st = pilot_state(racer);
    return st ? st->go_time : 0;
}

void pilot_give_path(Racer *racer, const LinePoint *points, int n, int cursor)
{
    PilotState *st = pilot_state(racer);
    if (!st)
        return;
    if (st->racer != racer)
        reset_pilot(racer);
    st->path.assign(points, points + (n > 0 ? n : 0));
    st->cursor = cursor < 0 ? 0 : cursor;
    // As for the race's first segment: no recovery before the frame clock passes 33 s.
    st->advance_frame = race_state().frame > 3840 ? race_state().frame : 3840;
    st->recovery = 0;
}

float path_position_of(const LinePoint *points, int n, int cursor, const double pos[3],
                       const double forward[3])
{
    if (cursor > n)
        cursor = n;
    auto ahead = [&](int i) {
        const LinePoint &q = points[i];
        return (q.x - pos[0]) * forward[0] + (q.y - pos[1]) * forward[1] +
               (q.z - pos[2]) * forward[2];
    };
    double b = -1;
    for (int i = cursor - 1; i >= 0; i--) {
        double a = ahead(i);
        if (a < 0) {
            if (b > 0)
                return (float)((i + 1) + clampd(-a / (b - a), 0, 1));
            return (float)(i + 1);
        }
        b = a;
    }
    if (cursor >= 2) {
        double a0 = ahead(0), a1 = ahead(1);
        if (a1 > 0)
            return (float)clampd(-a0 / (a1 - a0), 0, 1);
    }
    return 0;
}

// The frame body's forward axis: its z axis negated.
static void frame_forward(const Racer *racer, double out[3])
{
    const dReal *R = dBodyGetRotation(racer->bodies[BODY_FRAME]);
    out[0] = -R[2];
    out[1] = -R[6];
    out[2] = -R[10];
}

float path_position(const Racer *racer)
{
    const PilotState *st = pilot_state(racer);
    if (!st || st->path.empty())
        return 0;
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    double pos[3] = {p[0], p[1], p[2]}, fwd[3];
    frame_forward(racer, fwd);
    return path_position_of(st->path.data(), (int)st->path.size(), st->cursor, pos, fwd);
}

// Seconds by which the racer leads the running order (time gap to the second racer
// at the last gate the second passed); 0 when it does not lead.
static float lead_seconds(const Racer *racer)
{
    const RaceState &race = race_state();
    if (race.order_count < 2 || race.order[0].slot != racer->gates.slot)
        return 0;
    const OrderEntry &second = race.order[1];
    int g = second.gates_passed - 1;
    if (g < 0)
        return 0;
    int32_t mine = gate_time(&racer->gates, g);
    if (mine < 0)
        return 0;
    return (second.time - mine) / 128.0f;
}

// Step 1 of the frame: the cursor runs ahead while its point is near the bike.
static void advance_cursor(Racer *racer, PilotState *st, int32_t frame)
{
    int n = (int)st->path.size();
    if (n == 0 || st->cursor >= n)
        return;
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    const LinePoint &c = st->path[st->cursor];
    double dx = c.x - p[0], dz = c.z - p[2];
    double d2 = dx * dx + dz * dz;
    double reach = st->recovery == 3 ? 30 : 60;
    if (d2 >= reach * reach)
        return;
    if (d2 > 16 && st->cursor > 0) {
        // A step of the path that runs against the bike (a hairpin doubling back)
        // is not skipped from the wrong side.
        const LinePoint &b = st->path[st->cursor - 1];
        double sx = c.x - b.x, sz = c.z - b.z;
        double fwd[3];
        frame_forward(racer, fwd);
        if (sx * sx + sz * sz > 1 && sx * fwd[0] + sz * fwd[2] < 0)
            return;
    }
    st->cursor++;
    st->advance_frame = frame;
    if (st->recovery > 0)
        st->recovery--;
    if (st->cursor >= n) {
        st->path.clear();
        st->cursor = 0;
    }
}

static bool segment_has_lines(int segment)
{
    if (line_segment_count() <= 0)
        return false;
    int s = lap_segment(segment);
    for (int i = 0; i < LINE_SLOTS; i++) {
        const LineSlot *l = line_slot(s, i);
        if (l && !l->points.empty())
            return true;
    }
    return false;
}

// Step 3: revving at the gate, the go after the reaction time, and the launch.
// True while the start still sets the inputs.
static bool start_sequence(Racer *racer, PilotState *st, int32_t frame)
{
    const RaceState &race = race_state();
    double clock = frame / 128.0;
    if (st->go_time == 0 && frame - race.start_frame >= 640)
        return false;
    if (st->go_time == 0 || clock < st->go_time) {
        float throttle = 0;
        if (clock < 5) {
            if (st->blip_until == 0 || frame >= st->blip_until) {
                if (st->blip_until != 0)
                    st->blip_on = !st->blip_on;
                double len = st->blip_on ? random_between(0.25, 0.75) : random_between(2, 2.5);
                st->blip_until = frame + (int32_t)(len * 128) + 1;
            }
            throttle = st->blip_on ? 1 : 0;
        } else if (st->go_time == 0) {
            if (st->idle_until == 0)
                st->idle_until = (float)random_between(5.125, 5.5);
            if (clock >= st->idle_until) {
                const Personality &p = pilot_personalities[racer->personality];
                double reaction = random_between(p.reaction_min, p.reaction_max);
                st->go_time = (float)(race.start_frame / 128.0 + reaction);
                throttle = 1;
            }
        } else {
            throttle = 1;
        }
        set_throttle(racer, throttle);
        set_clutch(racer, 0);
        set_front_brake(racer, 1);
        set_rear_brake(racer, 1);
        set_dab(racer, 1);
        set_steer(racer, 0);
        return true;
    }
    double x = clock - st->go_time;
    if (x >= 2 || st->cursor >= (int)st->path.size())
        return false;   // launched, or nothing to ride: the bike waits where it is
    float engagement = (float)clampd(4 * x, 0, 1);
    set_clutch(racer, engagement);
    set_throttle(racer, 1);
    set_dab(racer, 1 - engagement);
    set_front_brake(racer, 0);
    set_rear_brake(racer, 0);
    set_steer(racer, 0);
    if (engagement < 0.75f) {
        racer->setup.flags &= (uint8_t)~SETUP_AUTO_SHIFT;
        racer->gear = racer->model.gear_ratios[1] > 0 ? 1 : 0;
    } else {
        racer->setup.flags |= SETUP_AUTO_SHIFT;
    }
    return true;
}

static void pilot_step(Racer *racer, bool plan);

void auto_pilot_step(Racer *racer)
{
    if (racer->personality <= 0 || racer->personality >= 5)
        return;
    pilot_step(racer, true);
}

void pilot_drive_given_path(Racer *racer)
{
    pilot_step(racer, false);
}

static void pilot_step(Racer *racer, bool plan)
{
    PilotState *st = pilot_state(racer);
    if (!st)
        return;
    int32_t frame = race_state().frame;
    // The racer's slot gets its number only after its personality is set, and a new
    // race may put a new racer where an old one was: either starts afresh.
    if (st->racer != racer || frame < st->last_frame)
        reset_pilot(racer);
    st->last_frame = frame;
    racer->setup.flags |= SETUP_CUT_TORQUE_IN_WHEELIE | SETUP_RELEASE_FRONT_IN_STOPPIE |
                          SETUP_FRONT_ANTILOCK | SETUP_REAR_ANTILOCK | SETUP_AUTO_SHIFT;

    advance_cursor(racer, st, frame);
    if (plan && (int)st->path.size() - st->cursor <= 10 && !racer->gates.finished &&
        segment_has_lines(st->next_segment))
        plan_next_segment(racer, st, frame);
    if (start_sequence(racer, st, frame))
        return;

    if (st->cursor >= (int)st->path.size()) {
        // Nothing planned (no lines) or the path ran out: stop and wait.
        set_throttle(racer, 0);
        set_clutch(racer, 0);
        set_front_brake(racer, 1);
        set_rear_brake(racer, 1);
        set_steer(racer, 0);
        set_dab(racer, 1);
        return;
    }
    if (plan && marshal_lost_racer(racer, st, frame))
        return;
    if (st->recovery != 0)
        recover(racer, st);
    else
        drive_path(racer, st);
}

int pilot_plan_skill(const Racer *racer)
{
    return pilot_skill(racer->personality, lead_seconds(racer));
}

bool pilot_on_path(const Racer *racer)
{
    const PilotState *st = pilot_state(racer);
    if (!st || st->path.size() < 2)
        return false;
    int n = (int)st->path.size();
    int i1 = (int)path_position(racer);
    i1 = i1 < 1 ? 1 : i1 > n - 1 ? n - 1 : i1;
    const LinePoint &a = st->path[i1 - 1], &b = st->path[i1];
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    const dReal *v = dBodyGetLinearVel(racer->bodies[BODY_FRAME]);
    double ab[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
    double ap[3] = {p[0] - a.x, p[1] - a.y, p[2] - a.z};
    double ll = ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2];
    double t = ll > 0 ? (ap[0] * ab[0] + ap[1] * ab[1] + ap[2] * ab[2]) / ll : 0;
    double d2 = 0;
    for (int k = 0; k < 3; k++) {
        double e = ap[k] - t * ab[k];
        d2 += e * e;
    }
    double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    double recorded = std::fmax(std::fabs(a.speed), std::fabs(b.speed));
    return d2 <= 16 && recorded >= 0.9375 * speed;
}

void pilot_slow_after_finish(Racer *racer)
{
    PilotState *st = pilot_state(racer);
    if (!st || st->path.empty())
        return;
    double p = path_position(racer);
    int e = (int)st->path.size() - 1;
    if (e - p <= 0)
        return;
    for (int j = (int)p; j <= e; j++) {
        double k = clampd(0.25 + 0.75 * (e - j) / (e - p), 0.25, 1);
        st->path[j].speed = (float)(st->path[j].speed * k);
    }
}

bool pilot_align_target(const Racer *racer, double out[3])
{
    if (!racer)
        return false;
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    int g = racer->gates.gates_passed;
    if (line_segment_count() > 0 && timing_tables().checkpoint_count > 0) {
        // The nearest sample of any line of the segment being ridden.
        int segment = lap_segment(segment_index(g));
        const LineSlot *best = nullptr;
        int best_i = 0;
        double best_d = 1e300;
        for (int s = 0; s < LINE_SLOTS; s++) {
            const LineSlot *l = line_slot(segment, s);
            if (!l)
                continue;
            for (size_t i = 0; i < l->points.size(); i++) {
                const LinePoint &q = l->points[i];
                double dx = q.x - p[0], dy = q.y - p[1], dz = q.z - p[2];
                double d = dx * dx + dy * dy + dz * dz;
                if (d < best_d) {
                    best_d = d;
                    best = l;
                    best_i = (int)i;
                }
            }
        }
        if (best) {
            int i = best_i + 4;
            if (i >= (int)best->points.size())
                i = (int)best->points.size() - 1;
            out[0] = best->points[i].x;
            out[1] = best->points[i].y;
            out[2] = best->points[i].z;
            return true;
        }
    }
    int c = race_gate_checkpoint(g);
    if (c < 0)
        return false;
    const TimingGate &gate = timing_tables().checkpoints[c];
    out[0] = gate.x;
    out[1] = gate.y;
    out[2] = gate.z;
    return true;
}

// The race hands over the track's directory and the skill; the lines are cleared,
// loaded, pruned and their last-picked frames reset before the routes are built.
static void hook_load_lines(const char *track, int skill)
{
    clear_lines();
    if (track)
        load_lines(track, skill);
    prune_lines();
    reset_last_picked();
    build_routes();
}

// A racer placed for a race (or the time-trial start): its path and its line
// recording start over.
static void hook_racer_reset(Racer *racer)
{
    reset_pilot(racer);
    if (racer->gates.slot >= 0 && racer->gates.slot < 160)
        reset_line_recording(racer->gates.slot);
}

void install_auto_pilot(RaceHooks *hooks)
{
    hooks->racer_reset = hook_racer_reset;
    hooks->set_personality = set_personality;
    hooks->auto_pilot_step = auto_pilot_step;
    hooks->align_target = pilot_align_target;
    hooks->save_lines = save_lines;
    hooks->load_lines = hook_load_lines;
    hooks->line_hooks = line_gate_hooks();
}
