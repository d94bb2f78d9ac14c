// Line learning: the slot tables of learnt lines per segment, the two recording
// buffers of every racer slot, the gate hooks that offer finished recordings as new
// lines and keep the auto pilots' statistics on the lines they rode, the pruning of
// crowded segments and the line files "lines_novice", "lines_amateur" and
// "lines_expert" in the track directory.
//
// A segment is the stretch that ends at a lap gate without the timing-only flag; the
// segment index of race gate g (segment_index) counts such gates before g, so the
// points recorded while heading for gate g belong to segment segment_index(g). A
// recording is offered one gate later than it ends, when the time over it and the
// segment after it (time B) is known.
#include "autopilot/lines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "autopilot/pilot.h"
#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "platform/vrak.h"
#include "race/race.h"
#include "sim/assists.h"
#include "sim/racer.h"
#include "track/gates.h"

enum {
    SAMPLE_FRAMES = 32,                 // one line point every 0.25 s
    CRASH_FRAMES = 640,                 // 5 s: the cost of a crash in expected times
    UNTIMED = 1000000,                  // time and best of a line nobody has ridden
    MAX_LINE_POINTS = 100000,           // a longer recording or file line is dropped
    PRUNE_LIMIT = 43,                   // pruning leaves at most this many lines
    RELIABLE_QUORUM = 23,               // reliable lines needed before they may go
    MAX_SUM = 100000000,                // statistics caps of the line files
    MAX_COUNT = 65535,
    MAX_HALVINGS = 16,
};

static const long MAX_FILE_BYTES = 256L << 20;     // far beyond any real line file

static const char *const skill_words[3] = {"novice", "amateur", "expert"};

static struct {
    int first_lines, normal_lines;      // F' and N'; 0 = no tables
    std::vector<LineSlot> slots;        // LINE_SLOTS per segment, lap segments in order
    int32_t next_id;                    // the last id handed out
    std::string track;                  // where the lines in memory came from
    int skill = -1;                     // -1: nothing loaded, nothing to save

    // Per racer slot (RACER_SLOTS + 1 so the "none" slot needs no test).
    std::vector<LinePoint> buffers[RACER_SLOTS + 1][2];     // by segment index mod 2
    uint8_t canceled_mask[RACER_SLOTS + 1];                 // bit k spoils buffer k
    int32_t ring[RACER_SLOTS + 1][4];                       // ids, segment mod 4
    bool crossed[RACER_SLOTS + 1];      // a crossing ran in the current gate check
} lines;

static int slot_index(const GateProgress *racer)
{
    return racer->slot >= 0 && racer->slot < RACER_SLOTS ? racer->slot : RACER_SLOTS;
}

static Racer *racer_of(const GateProgress *racer)
{
    int slot = slot_index(racer);
    return slot < RACER_SLOTS ? race_state().racers[slot] : nullptr;
}

static bool is_auto_pilot(const Racer *racer)
{
    return racer && racer->personality != 0;
}

static bool debug_log()
{
    return startup_options().debug > 0;
}

// ---------------------------------------------------------------------------
// Slot tables

static void empty_slot(LineSlot *slot)
{
    slot->points.clear();
    slot->points.shrink_to_fit();
    slot->time_a = slot->time_b = UNTIMED;
    slot->tested = 0;
    slot->best_a = slot->best_b = UNTIMED;
    slot->sum_a = slot->sum_b = 0;
    slot->canceled = 0;
    slot->last_picked = NEVER_PICKED;
    slot->id = 0;
}

static bool slot_used(const LineSlot &slot)
{
    return !slot.points.empty();
}

int line_segment_count()
{
    return lines.first_lines + lines.normal_lines;
}

int lap_segment(int segment)
{
    if (segment < 0 || line_segment_count() == 0)
        return -1;
    if (segment < lines.first_lines)
        return segment;
    return lines.first_lines + (segment - lines.first_lines) % lines.normal_lines;
}

LineSlot *line_slot(int segment, int i)
{
    int s = lap_segment(segment);
    if (s < 0 || i < 0 || i >= LINE_SLOTS)
        return nullptr;
    return &lines.slots[(size_t)s * LINE_SLOTS + i];
}

int line_used_count(int segment)
{
    int used = 0;
    for (int i = 0; i < LINE_SLOTS; i++) {
        const LineSlot *slot = line_slot(segment, i);
        used += slot && slot_used(*slot);
    }
    return used;
}

// The slot of a segment that holds the line with this id, or null.
static LineSlot *line_by_id(int segment, int32_t id)
{
    if (id == 0)
        return nullptr;
    for (int i = 0; i < LINE_SLOTS; i++) {
        LineSlot *slot = line_slot(segment, i);
        if (slot && slot_used(*slot) && slot->id == id)
            return slot;
    }
    return nullptr;
}

void clear_lines()
{
    for (LineSlot &slot : lines.slots)
        empty_slot(&slot);
}

void lines_make_tables(int first_lap_lines, int normal_lap_lines)
{
    lines.slots.clear();
    lines.first_lines = lines.normal_lines = 0;
    if (first_lap_lines <= 0 || normal_lap_lines <= 0)
        return;
    lines.first_lines = first_lap_lines;
    lines.normal_lines = normal_lap_lines;
    lines.slots.resize((size_t)line_segment_count() * LINE_SLOTS);
    clear_lines();
}

void free_lines()
{
    lines.slots.clear();
    lines.slots.shrink_to_fit();
    lines.first_lines = lines.normal_lines = 0;
    lines.track.clear();
    lines.skill = -1;
    for (int s = 0; s <= RACER_SLOTS; s++)
        reset_line_recording(s);
}

void reset_last_picked()
{
    for (LineSlot &slot : lines.slots)
        slot.last_picked = NEVER_PICKED;
}

// ---------------------------------------------------------------------------
// Ring of line ids and recording state

void ring_set(int slot, int segment, int32_t id)
{
    if (slot < 0 || slot >= RACER_SLOTS || segment < 0)
        return;
    lines.ring[slot][segment & 3] = id;
}

int32_t ring_get(int slot, int segment)
{
    if (slot < 0 || slot >= RACER_SLOTS || segment < 0)
        return 0;
    return lines.ring[slot][segment & 3];
}

void ring_clear(int slot)
{
    if (slot < 0 || slot >= RACER_SLOTS)
        return;
    memset(lines.ring[slot], 0, sizeof lines.ring[slot]);
}

void reset_line_recording(int slot)
{
    if (slot < 0 || slot > RACER_SLOTS)
        return;
    for (std::vector<LinePoint> &buffer : lines.buffers[slot])
        buffer.clear();
    lines.canceled_mask[slot] = 0;
    lines.crossed[slot] = false;
    if (slot < RACER_SLOTS)
        ring_clear(slot);
}

// ---------------------------------------------------------------------------
// Expected costs and the choice of a slot to replace

// What a line is expected to cost over its segment and the next (frames): its
// recorded time B with a quarter added while no auto pilot has ridden it, else the
// average of the runs; crashes and departures add their share of 5 s.
static int64_t expected_cost(const LineSlot &slot)
{
    if (slot.tested <= 0)
        return (int64_t)slot.time_b * 5 / 4 + (slot.canceled >= 1 ? CRASH_FRAMES : 0);
    return slot.sum_b / slot.tested +
           (int64_t)CRASH_FRAMES * slot.canceled / (slot.tested + slot.canceled);
}

static float distance_squared(const LinePoint &a, const LinePoint &b)
{
    float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

int pick_victim(int segment)
{
    if (lap_segment(segment) < 0)
        return -1;
    int64_t cost[LINE_SLOTS];
    int reliable = 0, used = 0;
    for (int i = 0; i < LINE_SLOTS; i++) {
        const LineSlot &slot = *line_slot(segment, i);
        if (!slot_used(slot))
            continue;
        used++;
        reliable += slot.canceled < slot.tested;
        cost[i] = expected_cost(slot);
        // A line that starts where no other does is the only way through there:
        // it is kept a little longer.
        bool alone = true;
        for (int j = 0; j < LINE_SLOTS && alone; j++) {
            const LineSlot &other = *line_slot(segment, j);
            if (j != i && slot_used(other) &&
                distance_squared(slot.points[0], other.points[0]) <= 4.0f)
                alone = false;
        }
        if (alone)
            cost[i] = cost[i] * 3 / 4;
    }
    if (used == 0)
        return -1;
    // Unreliable lines go first until enough reliable ones exist to choose among all.
    bool all = reliable >= RELIABLE_QUORUM;
    int victim = -1;
    for (int pass = 0; pass < 2 && victim < 0; pass++) {
        for (int i = 0; i < LINE_SLOTS; i++) {
            const LineSlot &slot = *line_slot(segment, i);
            if (!slot_used(slot) || (!all && slot.canceled < slot.tested))
                continue;
            if (victim < 0 || cost[i] > cost[victim])
                victim = i;
        }
        all = true;     // no unreliable line at all: any used line may go
    }
    return victim;
}

// ---------------------------------------------------------------------------
// Recording and incidents (the start of every gate check)

static void record_line_point(GateProgress *progress, Racer *racer, int32_t frame)
{
    if (frame % SAMPLE_FRAMES != 0 || is_auto_pilot(racer) || !racer->bodies[BODY_FRAME])
        return;
    int slot = slot_index(progress);
    int s = segment_index(progress->gates_passed);
    std::vector<LinePoint> &buffer = lines.buffers[slot][s & 1];
    if (buffer.size() >= MAX_LINE_POINTS) {
        // Hours without a gate: nothing worth keeping.
        lines.canceled_mask[slot] |= 1 << (s & 1);
        return;
    }
    dBodyID frame_body = racer->bodies[BODY_FRAME];
    const dReal *p = dBodyGetPosition(frame_body);
    const dReal *v = dBodyGetLinearVel(frame_body);
    LinePoint point;
    point.x = (float)p[0];
    point.y = (float)p[1];
    point.z = (float)p[2];
    point.speed = (float)std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(racer->wheel_contacts[0].depth > 0) && !(racer->wheel_contacts[1].depth > 0))
        point.speed = -point.speed;
    point.roll = (float)roll_angle(frame_body);
    buffer.push_back(point);
}

static void cancel_ring_line(int slot, int segment)
{
    LineSlot *line = line_by_id(segment, ring_get(slot, segment));
    if (line && line->canceled < MAX_COUNT)
        line->canceled++;
}

// A crash or a hit counts once against the lines the auto pilot was riding: the one
// of the current segment and, just after a gate, the one it has only now left.
static void handle_incident(GateProgress *progress, Racer *racer, int32_t frame)
{
    if (racer->incident != 1)
        return;
    racer->incident = 2;
    if (!is_auto_pilot(racer))
        return;
    int slot = slot_index(progress);
    int s = segment_index(progress->gates_passed);
    cancel_ring_line(slot, s);
    int32_t last = gate_time(progress, progress->gates_passed - 1);
    if (last >= 0 && frame - last < 128 && s > 0)
        cancel_ring_line(slot, s - 1);
    ring_clear(slot);
}

static void hook_sample(GateProgress *progress, int32_t frame)
{
    Racer *racer = racer_of(progress);
    lines.crossed[slot_index(progress)] = false;
    if (!racer)
        return;
    record_line_point(progress, racer, frame);
    handle_incident(progress, racer, frame);
}

// ---------------------------------------------------------------------------
// Gate crossings

// The three latest line gates up to c (c included): a < b < c. Gates before the race
// start are -1 and count as frame 0.
struct ThreeGates {
    int a, b, c;
    int32_t ta, tb, tc;
};

static int previous_line_gate(int g)
{
    for (g--; g >= 0; g--)
        if (!race_gate_timing_only(g))
            return g;
    return -1;
}

static ThreeGates three_gates(const GateProgress *progress, int c)
{
    ThreeGates t;
    t.c = c;
    t.b = previous_line_gate(c);
    t.a = t.b >= 0 ? previous_line_gate(t.b) : -1;
    t.ta = t.a >= 0 ? gate_time(progress, t.a) : 0;
    t.tb = t.b >= 0 ? gate_time(progress, t.b) : 0;
    t.tc = gate_time(progress, c);
    return t;
}

// The first race gate in from..to that was missed, or -1.
static int missed_gate(const GateProgress *progress, int from, int to)
{
    for (int g = from < 0 ? 0 : from; g <= to; g++)
        if (gate_time(progress, g) < 0)
            return g;
    return -1;
}

void credit_line(GateProgress *progress, int g)
{
    Racer *racer = racer_of(progress);
    int slot = slot_index(progress);
    int s = segment_index(g);
    if (!racer || slot >= RACER_SLOTS)
        return;
    if (!pilot_on_path(racer)) {
        cancel_ring_line(slot, s);
        ring_clear(slot);
        return;
    }
    ThreeGates t = three_gates(progress, g);
    if (t.b < 0)
        return;     // the first line gate: no segment has ended before it
    int missed = missed_gate(progress, t.a + 1, t.b);
    if (missed >= 0) {
        cancel_ring_line(slot, segment_index(missed));
        return;
    }
    if (t.a >= 0 && t.ta < 0)
        return;     // gate a was missed: its segment was canceled when it ended
    LineSlot *line = line_by_id(s - 1, ring_get(slot, s - 1));
    if (!line)
        return;
    int32_t time_a = t.tb - t.ta, time_b = t.tc - t.ta;
    if (line->tested < MAX_COUNT)
        line->tested++;
    line->best_a = std::min(line->best_a, time_a);
    line->best_b = std::min(line->best_b, time_b);
    line->sum_a += time_a;
    line->sum_b += time_b;
}

void cancel_line(GateProgress *progress)
{
    int slot = slot_index(progress);
    cancel_ring_line(slot, segment_index(progress->gates_passed));
    ring_clear(slot);
}

static bool same_line(const std::vector<LinePoint> &a, const std::vector<LinePoint> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::fabs(a[i].speed - b[i].speed) > 0.0625f ||
            distance_squared(a[i], b[i]) > 0.00390625f)
            return false;
    return true;
}

void offer_line(GateProgress *progress, int g)
{
    int slot = slot_index(progress);
    int m = segment_index(g) - 1;
    if (m < 0)
        return;     // the first line gate: the recording before it is no whole segment
    int lap_m = lap_segment(m);
    if (lap_m < 0)
        return;
    std::vector<LinePoint> &buffer = lines.buffers[slot][m & 1];
    ThreeGates t = three_gates(progress, g);
    // A rider who skipped a gate did not ride the segment: its line would teach the
    // auto pilots to cut the track, and its times would be meaningless.
    bool cut = missed_gate(progress, t.a + 1, t.c) >= 0 || (t.a >= 0 && t.ta < 0);
    if (buffer.empty() || (lines.canceled_mask[slot] & (1 << (m & 1))) || cut) {
        if (debug_log())
            vrak_log("auto pilot: %d canceled\n", lap_m);
        return;
    }
    int32_t time_a = t.tb - t.ta, time_b = t.tc - t.ta;

    for (int i = 0; i < LINE_SLOTS; i++) {
        const LineSlot &other = *line_slot(m, i);
        if (slot_used(other) && same_line(other.points, buffer)) {
            if (debug_log())
                vrak_log("auto pilot: %d rejected (duplicate)\n", lap_m);
            return;
        }
    }

    int target = -1;
    for (int i = 0; i < LINE_SLOTS && target < 0; i++)
        if (!slot_used(*line_slot(m, i)))
            target = i;
    if (target < 0) {
        target = pick_victim(m);
        LineSlot &victim = *line_slot(m, target);
        if (expected_cost(victim) < (int64_t)time_b * 5 / 4) {
            if (debug_log())
                vrak_log("auto pilot: %d rejected (too slow)\n", lap_m);
            return;
        }
        if (debug_log()) {
            double tested = victim.tested > 0 ? victim.tested : 1;
            vrak_log("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f "
                     "repl: %f %f)\n",
                     lap_m, victim.time_a / 128.0, victim.time_b / 128.0, victim.tested,
                     victim.canceled, victim.sum_a / tested / 128.0,
                     victim.sum_b / tested / 128.0, time_a / 128.0, time_b / 128.0);
        }
    }
    LineSlot &line = *line_slot(m, target);
    empty_slot(&line);
    line.points = buffer;
    line.time_a = time_a;
    line.time_b = time_b;
    line.id = ++lines.next_id;
}

static void hook_crossing(GateProgress *progress, int g, int32_t)
{
    Racer *racer = racer_of(progress);
    int slot = slot_index(progress);
    if (!racer || line_segment_count() == 0)
        return;
    lines.crossed[slot] = true;
    int s = segment_index(g);
    if (racer->incident != 0)
        lines.canceled_mask[slot] |= 1 << (s & 1);
    // Going back for a missed gate: the recording runs backwards over the track
    // and is no line to follow.
    if (progress->times.size() > (size_t)g + 1) {
        lines.canceled_mask[slot] = 3;
        return;
    }
    if (race_gate_timing_only(g))
        return;
    if (is_auto_pilot(racer))
        credit_line(progress, g);
    else
        offer_line(progress, g);
    std::vector<LinePoint> &next = lines.buffers[slot][(s + 1) & 1];
    next.clear();
    lines.canceled_mask[slot] &= ~(1 << ((s + 1) & 1));
}

static void hook_finished(GateProgress *progress)
{
    Racer *racer = racer_of(progress);
    if (is_auto_pilot(racer))
        pilot_slow_after_finish(racer);
}

// Called at the end of a gate check that found a crossing, and by set_gates_passed.
// After a crossing only the incident is done with; otherwise the racer starts over.
static void hook_reset(GateProgress *progress)
{
    int slot = slot_index(progress);
    if (!lines.crossed[slot])
        reset_line_recording(slot);
    lines.crossed[slot] = false;
    Racer *racer = racer_of(progress);
    if (racer)
        racer->incident = 0;
}

const GateHooks *line_gate_hooks()
{
    static const GateHooks hooks = {
        hook_sample, hook_crossing, hook_finished, hook_reset, nullptr, nullptr,
        lines_make_tables,
    };
    return &hooks;
}

// ---------------------------------------------------------------------------
// Pruning

// Segments p0-p1 and q0-q1 meet in x/z. Touching counts: an end point lying on the
// other segment, or two segments overlapping on one straight line, because a line
// that passes exactly through a recorded point of another still crosses it (the
// point is the end of one piece and the start of the next, so a strict test would
// miss it). Collinear segments that do not overlap do not meet.
static bool segments_cross(const LinePoint &p0, const LinePoint &p1, const LinePoint &q0,
                           const LinePoint &q1)
{
    auto side = [](const LinePoint &a, const LinePoint &b, const LinePoint &c) {
        double v = ((double)b.x - a.x) * ((double)c.z - a.z) -
                   ((double)b.z - a.z) * ((double)c.x - a.x);
        return (v > 0) - (v < 0);
    };
    // c, collinear with a-b, lies within its bounds.
    auto within = [](const LinePoint &a, const LinePoint &b, const LinePoint &c) {
        return std::min(a.x, b.x) <= c.x && c.x <= std::max(a.x, b.x) &&
               std::min(a.z, b.z) <= c.z && c.z <= std::max(a.z, b.z);
    };
    int d1 = side(q0, q1, p0), d2 = side(q0, q1, p1);
    int d3 = side(p0, p1, q0), d4 = side(p0, p1, q1);
    if (d1 * d2 < 0 && d3 * d4 < 0)
        return true;
    return (d1 == 0 && within(q0, q1, p0)) || (d2 == 0 && within(q0, q1, p1)) ||
           (d3 == 0 && within(p0, p1, q0)) || (d4 == 0 && within(p0, p1, q1));
}

struct Box {
    float x0, z0, x1, z1;
};

static Box line_box(const std::vector<LinePoint> &points)
{
    Box b = {points[0].x, points[0].z, points[0].x, points[0].z};
    for (const LinePoint &p : points) {
        b.x0 = std::min(b.x0, p.x);
        b.x1 = std::max(b.x1, p.x);
        b.z0 = std::min(b.z0, p.z);
        b.z1 = std::max(b.z1, p.z);
    }
    return b;
}

static bool lines_cross(const std::vector<LinePoint> &a, const Box &box_a,
                        const std::vector<LinePoint> &b, const Box &box_b)
{
    if (box_a.x1 < box_b.x0 || box_b.x1 < box_a.x0 || box_a.z1 < box_b.z0 ||
        box_b.z1 < box_a.z0)
        return false;
    for (size_t i = 0; i + 1 < a.size(); i++)
        for (size_t j = 0; j + 1 < b.size(); j++)
            if (segments_cross(a[i], a[i + 1], b[j], b[j + 1]))
                return true;
    return false;
}

// Of two lines crossed equally often, the first is emptied before the second.
static bool prune_before(const LineSlot &x, const LineSlot &y)
{
    if ((x.tested > 0) != (y.tested > 0))
        return x.tested > 0;
    if (x.tested > 0)
        return (double)x.sum_b / x.tested < (double)y.sum_b / y.tested;
    return x.time_b < y.time_b;
}

static void prune_segment(int segment)
{
    int used = line_used_count(segment);
    while (used > PRUNE_LIMIT) {
        bool usable[LINE_SLOTS];
        Box boxes[LINE_SLOTS];
        int crossings[LINE_SLOTS] = {};
        for (int i = 0; i < LINE_SLOTS; i++) {
            const LineSlot &slot = *line_slot(segment, i);
            usable[i] = slot.points.size() >= 2;
            if (usable[i])
                boxes[i] = line_box(slot.points);
        }
        for (int i = 0; i < LINE_SLOTS; i++)
            for (int j = i + 1; j < LINE_SLOTS && usable[i]; j++)
                if (usable[j] && lines_cross(line_slot(segment, i)->points, boxes[i],
                                             line_slot(segment, j)->points, boxes[j])) {
                    crossings[i]++;
                    crossings[j]++;
                }
        int worst = -1;
        for (int i = 0; i < LINE_SLOTS; i++) {
            if (crossings[i] == 0)
                continue;
            if (worst < 0 || crossings[i] > crossings[worst] ||
                (crossings[i] == crossings[worst] &&
                 prune_before(*line_slot(segment, i), *line_slot(segment, worst))))
                worst = i;
        }
        if (worst >= 0)
            empty_slot(line_slot(segment, worst));
        int victim = pick_victim(segment);
        if (victim >= 0)
            empty_slot(line_slot(segment, victim));
        used -= 2;
    }
}

void prune_lines()
{
    // Crowding builds up where every race passes: the first lap.
    for (int s = 0; s < lines.first_lines; s++)
        prune_segment(s);
}

// ---------------------------------------------------------------------------
// Line files
//
// Text, in the track directory, "lines_novice", "lines_amateur" or "lines_expert":
//   "ct03 %d\n"        the number of segments (F' + N'); a file for another lap
//                      layout is ignored
//   per segment:
//     "%d\n"           the number of lines that follow
//     per line: "%d %d %d %d %d %d %d %d %d\n"
//                      point count, time A, time B, tested, best A, best B, sum A,
//                      sum B, canceled (times in frames)
//               then per point "[%f %f %f] %f %f\n"
//                      x, y, z, speed (negative in the air), roll
// Lines beyond the 45 slots of a segment are read and dropped. The reader works on
// the whole file in memory and never trusts a count: a line with too many points or
// a value that is not a finite number is dropped; text that does not parse ends the
// reading with what was read so far.

struct Reader {
    const char *p;
    const char *end;
};

static void skip_space(Reader *r)
{
    while (r->p < r->end && (*r->p == ' ' || *r->p == '\t' || *r->p == '\n' || *r->p == '\r'))
        r->p++;
}

static bool read_int(Reader *r, long long *value)
{
    skip_space(r);
    char *after;
    long long v = strtoll(r->p, &after, 10);
    if (after == r->p || after > r->end)
        return false;
    r->p = after;
    *value = v;
    return true;
}

static bool read_float(Reader *r, float *value)
{
    skip_space(r);
    char *after;
    float v = strtof(r->p, &after);
    if (after == r->p || after > r->end)
        return false;
    r->p = after;
    *value = v;
    return true;
}

static bool read_char(Reader *r, char c)
{
    skip_space(r);
    if (r->p >= r->end || *r->p != c)
        return false;
    r->p++;
    return true;
}

static bool read_point(Reader *r, LinePoint *point)
{
    return read_char(r, '[') && read_float(r, &point->x) && read_float(r, &point->y) &&
           read_float(r, &point->z) && read_char(r, ']') && read_float(r, &point->speed) &&
           read_float(r, &point->roll);
}

static bool point_finite(const LinePoint &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) &&
           std::isfinite(p.speed) && std::isfinite(p.roll);
}

static int32_t clamp_int(long long v, long long lo, long long hi)
{
    return (int32_t)(v < lo ? lo : v > hi ? hi : v);
}

// Statistics from files written over many sessions may overflow: tested and canceled
// are halved, the sums with them so the averages stay, then everything is capped.
static void limit_statistics(LineSlot *line)
{
    for (int i = 0; i < MAX_HALVINGS; i++) {
        if (line->sum_b <= MAX_SUM && line->tested <= MAX_COUNT && line->canceled <= MAX_COUNT)
            break;
        int64_t tested = line->tested / 2;
        if (line->tested > 0) {
            line->sum_a = line->sum_a * tested / line->tested;
            line->sum_b = line->sum_b * tested / line->tested;
        } else {
            line->sum_a /= 2;
            line->sum_b /= 2;
        }
        line->tested = (int32_t)tested;
        line->canceled /= 2;
    }
    line->sum_a = std::min<int64_t>(line->sum_a, MAX_SUM);
    line->sum_b = std::min<int64_t>(line->sum_b, MAX_SUM);
    line->tested = std::min(line->tested, (int32_t)MAX_COUNT);
    line->canceled = std::min(line->canceled, (int32_t)MAX_COUNT);
}

// Reads one line into *line (points empty when it is dropped). False when the text
// does not parse: the reading ends there.
static bool read_line(Reader *r, LineSlot *line)
{
    long long v[9];
    for (long long &value : v)
        if (!read_int(r, &value))
            return false;
    if (v[0] < 0)
        return false;
    empty_slot(line);
    bool keep = v[0] > 0 && v[0] <= MAX_LINE_POINTS;
    if (keep)
        line->points.reserve((size_t)v[0]);
    for (long long i = 0; i < v[0]; i++) {
        LinePoint point;
        if (!read_point(r, &point)) {
            line->points.clear();
            return false;
        }
        if (!point_finite(point))
            keep = false;
        if (keep)
            line->points.push_back(point);
    }
    if (!keep) {
        empty_slot(line);
        return true;
    }
    // Negative counts and sums are nonsense and would divide by zero in the costs.
    line->time_a = clamp_int(v[1], INT32_MIN, INT32_MAX);
    line->time_b = clamp_int(v[2], INT32_MIN, INT32_MAX);
    line->tested = clamp_int(v[3], 0, INT32_MAX);
    line->best_a = clamp_int(v[4], INT32_MIN, INT32_MAX);
    line->best_b = clamp_int(v[5], INT32_MIN, INT32_MAX);
    line->sum_a = v[6] < 0 ? 0 : v[6];
    line->sum_b = v[7] < 0 ? 0 : v[7];
    line->canceled = clamp_int(v[8], 0, INT32_MAX);
    limit_statistics(line);
    return true;
}

static bool read_file(const char *name, std::string *text)
{
    DataFile *in = data_open(name, "rb");
    if (!in)
        return false;
    char chunk[65536];
    size_t n;
    while ((n = data_read(in, chunk, sizeof chunk)) > 0 && (long)text->size() < MAX_FILE_BYTES)
        text->append(chunk, n);
    data_close(in);
    return true;
}

static std::string lines_name(const std::string &track, int skill)
{
    return "@" + track + "/lines_" + skill_words[skill];
}

// Makes the tables match the loaded track's lap layout (a track without timing has
// none; the tables of the track before must not be used for it).
static void sync_tables()
{
    const TimingTables &t = timing_tables();
    int first = t.checkpoint_count > 0 ? t.first_lap_lines : 0;
    int normal = t.checkpoint_count > 0 ? t.normal_lap_lines : 0;
    if (first != lines.first_lines || normal != lines.normal_lines)
        lines_make_tables(first, normal);
}

bool load_lines(const char *track, int skill)
{
    sync_tables();
    clear_lines();
    lines.track = track ? track : "";
    lines.skill = skill >= 0 && skill <= 2 && track && *track ? skill : -1;
    if (lines.skill < 0 || line_segment_count() == 0)
        return false;

    bool loaded = false;
    std::string text;
    if (read_file(lines_name(lines.track, skill).c_str(), &text)) {
        Reader r = {text.c_str(), text.c_str() + text.size()};
        long long segments;
        if (read_char(&r, 'c') && read_char(&r, 't') && read_char(&r, '0') &&
            read_char(&r, '3') && read_int(&r, &segments) && segments == line_segment_count()) {
            loaded = true;
            bool ok = true;
            LineSlot dropped;
            for (int s = 0; s < line_segment_count() && ok; s++) {
                long long count;
                if (!read_int(&r, &count) || count < 0)
                    break;
                if (debug_log())
                    vrak_log("%d: %lld\n", s, count);
                int next = 0;
                for (long long i = 0; i < count && ok; i++) {
                    LineSlot *line = next < LINE_SLOTS ? line_slot(s, next) : &dropped;
                    ok = read_line(&r, line);
                    if (ok && slot_used(*line) && line != &dropped) {
                        line->id = ++lines.next_id;
                        next++;
                    }
                }
            }
            empty_slot(&dropped);
        }
    }
    prune_lines();
    reset_last_picked();
    return loaded;
}

static bool write_lines(DataFile *out)
{
    bool ok = data_printf(out, "ct03 %d\n", line_segment_count()) >= 0;
    for (int s = 0; s < line_segment_count() && ok; s++) {
        ok = data_printf(out, "%d\n", line_used_count(s)) >= 0;
        for (int i = 0; i < LINE_SLOTS && ok; i++) {
            const LineSlot &line = *line_slot(s, i);
            if (!slot_used(line))
                continue;
            ok = data_printf(out, "%d %d %d %d %d %d %lld %lld %d\n", (int)line.points.size(),
                             line.time_a, line.time_b, line.tested, line.best_a, line.best_b,
                             (long long)line.sum_a, (long long)line.sum_b, line.canceled) >= 0;
            for (const LinePoint &p : line.points)
                ok = ok && data_printf(out, "[%f %f %f] %f %f\n", p.x, p.y, p.z, p.speed,
                                       p.roll) >= 0;
        }
    }
    return data_flush(out) && ok;
}

void save_lines()
{
    if (!startup_options().learn || lines.skill < 0 || line_segment_count() == 0)
        return;
    const char *home = home_dir();
    if (!home)
        return;
    // Written beside the old file and renamed over it, so a failed write keeps it.
    std::string path = home + lines.track + "/lines_" + skill_words[lines.skill];
    std::string temp = path + ".part";
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    DataFile *out = data_open(temp.c_str(), "wb");
    if (!out) {
        vrak_log("Can't write '%.900s'\n", path.c_str());
        return;
    }
    bool ok = write_lines(out);
    data_close(out);
    if (!ok || !data_rename(temp.c_str(), path.c_str())) {
        data_remove(temp.c_str());
        vrak_log("Can't write '%.900s'\n", path.c_str());
    }
}
