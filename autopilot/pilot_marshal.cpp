// Putting a lost computer rider back on the course. Recovery brings a bike back to
// its path as long as the way there is open; a bike that has ended up behind a row
// of tuff blocks or on top of one can drive at its cursor point for ever, and an
// offline race does not end while a computer rider has not finished. When a racing
// auto pilot has passed no gate for a minute, the marshals stand its bike upright
// on its path, short of its next gate (or at the cursor point when the path does
// not pass that gate), heading along the path, at rest, and it rides on from there
// in recovery.
#include <cmath>

#include "autopilot/pilot_local.h"
#include "race/race.h"
#include "sim/contact.h"
#include "sim/racer.h"
#include "sim/racer_pose.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace
{

const int32_t LOST_TICKS = 60 * 128;    // no gate passed for a minute
const double CLEAR_DISTANCE = 8;        // ft from any other racer's frame
const double GATE_REACH = 40;           // ft from the next gate to the path

// Frame of the racer's last passed gate, or of the start when it has passed none.
int32_t last_progress_frame(const Racer *racer, int32_t start_frame)
{
    const GateProgress &g = racer->gates;
    for (int i = g.gates_passed - 1; i >= 0; i--) {
        int32_t t = gate_time(&g, i);
        if (t >= 0)
            return t;
    }
    return start_frame;
}

bool point_is_clear(const Racer *racer, const LinePoint &p)
{
    const RaceState &race = race_state();
    for (int s = 0; s < RACER_SLOTS; s++) {
        const Racer *o = race.racers[s];
        if (!o || o == racer || !o->bodies[BODY_FRAME])
            continue;
        const dReal *q = dBodyGetPosition(o->bodies[BODY_FRAME]);
        double dx = q[0] - p.x, dz = q[2] - p.z;
        if (dx * dx + dz * dz < CLEAR_DISTANCE * CLEAR_DISTANCE)
            return false;
    }
    return true;
}

// The path point a few points short of the one nearest the racer's next gate, so
// that the gate is still to be crossed; -1 when the path does not come near it.
int before_next_gate(const Racer *racer, const PilotState &st)
{
    int checkpoint = race_gate_checkpoint(racer->gates.gates_passed);
    const TimingTables &tt = timing_tables();
    if (checkpoint < 0 || checkpoint >= tt.checkpoint_count)
        return -1;
    const TimingGate &g = tt.checkpoints[checkpoint];
    int best = -1;
    double best_d2 = GATE_REACH * GATE_REACH;
    for (int i = 0; i < (int)st.path.size(); i++) {
        double dx = st.path[i].x - g.x, dz = st.path[i].z - g.z;
        double d2 = dx * dx + dz * dz;
        if (d2 < best_d2)
            best = i, best_d2 = d2;
    }
    return best < 0 ? -1 : best >= 2 ? best - 2 : 0;
}

void place_on_path(Racer *racer, const PilotState &st, int i)
{
    const LinePoint &p = path_point(st, i), &q = path_point(st, i + 1);
    double dx = q.x - p.x, dz = q.z - p.z;
    if (dx * dx + dz * dz < 1e-6) {
        const LinePoint &o = path_point(st, i - 1);
        dx = p.x - o.x, dz = p.z - o.z;
    }
    // The bike's forward axis is its -z: heading h turns it to (-sin h, 0, -cos h).
    double h = std::atan2(-dx, -dz);
    double orientation[4] = {std::cos(h / 2), 0, std::sin(h / 2), 0};
    const Terrain *t = track_terrain();
    double ground = t ? terrain_height(t, p.x, p.z) : p.y;
    double position[3] = {p.x, ground + racer->model.frame_position.y, p.z};
    pose_racer(racer, position, orientation, 0, 0, 0, nullptr, 0, 0);
    for (dBodyID b : racer->bodies) {
        dBodySetLinearVel(b, 0, 0, 0);
        dBodySetAngularVel(b, 0, 0, 0);
    }
    for (int k = 0; t && k < 400 && terrain_touch_test(racer, t); k++)
        move_racer(racer, 0, 0.25, 0);
}

} // namespace

bool marshal_lost_racer(Racer *racer, PilotState *st, int32_t frame)
{
    const RaceState &race = race_state();
    if (racer->crash_countdown > 0 || racer->finished || racer->gates.finished ||
        st->path.empty() || frame <= race.start_frame)
        return false;
    int32_t since = last_progress_frame(racer, race.start_frame);
    if (st->marshal_frame > since)
        since = st->marshal_frame;
    if (frame - since < LOST_TICKS)
        return false;
    int n = (int)st->path.size();
    int at = before_next_gate(racer, *st);
    if (at < 0)
        at = st->cursor < n ? st->cursor : n - 1;
    for (int k = 0; k < 8 && at + 1 < n && !point_is_clear(racer, st->path[at]); k++)
        at++;
    place_on_path(racer, *st, at);
    st->cursor = at;
    st->advance_frame = frame;
    st->recovery = 3;
    st->marshal_frame = frame;
    return true;
}
