// Running order, race length and finish. Everything here is derived from the gate
// times the gate check stores per racer: the order after every crossing, the lap
// count a timed race settles on once its time has run out, who has taken the
// checkered flag, when the race is over, and the results order with the penalty
// for cutting the track.
#include "race/order.h"

#include <algorithm>

#include "core/options.h"
#include "race/race.h"
#include "race/replay.h"
#include "race/results.h"
#include "race/series.h"
#include "sim/racer.h"
#include "track/gates.h"

enum {
    GONE_OFFLINE_FRAMES = 10 * TICK_RATE,   // a demo rider silent this long has left
    GONE_NETWORK_FRAMES = TICK_RATE,        // a peer silent this long has left
    NO_REFERENCE_FRAMES = 60 * TICK_RATE,   // segment time when nobody rode it cleanly
};

static bool order_before(const OrderEntry &a, const OrderEntry &b)
{
    if (a.gates_passed != b.gates_passed)
        return a.gates_passed > b.gates_passed;
    if (a.time != b.time)
        return a.time < b.time;
    return a.slot < b.slot;
}

void sort_order(OrderEntry *entries, int count)
{
    std::sort(entries, entries + count, order_before);
}

int order_laps_for_gates(int32_t gates_passed)
{
    const TimingTables &t = timing_tables();
    if (t.checkpoint_count == 0 || t.normal_lap_count <= 0 || gates_passed < t.first_lap_count)
        return 0;
    return (gates_passed - t.first_lap_count) / t.normal_lap_count + 1;
}

int64_t order_lap_end(int64_t k)
{
    return k <= 0 ? 0 : lap_end_gate(k);
}

// Time of a race gate that may lie beyond int range (the end of lap 1000000).
static int32_t time_at(const Racer *racer, int64_t g)
{
    if (g < 0 || g >= racer->gates.gates_passed)
        return -1;
    return gate_time(&racer->gates, (int)g);
}

// Frame of the newest gate the racer has a time for, 0 when none.
static int32_t last_gate_time(const Racer *racer)
{
    int g = std::min<int64_t>(racer->gates.gates_passed, racer->gates.times.size());
    while (--g >= 0) {
        int32_t t = racer->gates.times[g];
        if (t >= 0)
            return t;
    }
    return 0;
}

int32_t order_leader_gates_passed()
{
    const RaceState &race = race_state();
    return race.order_count > 0 ? race.order[0].gates_passed : 0;
}

bool racer_finished(const Racer *racer)
{
    return racer->finished || racer->gates.finished;
}

bool is_finished(Racer *racer)
{
    if (racer_finished(racer)) {
        racer->finished = racer->gates.finished = true;
        return true;
    }
    const RaceState &race = race_state();
    if (race.order_count == 0)
        return false;
    const Racer *leader = race.racers[race.order[0].slot];
    int64_t f = race.total_laps > 0 ? order_lap_end(race.total_laps) : 0;
    if (!leader || leader->gates.gates_passed <= f)
        return false;
    int32_t leader_time = time_at(leader, f);
    int64_t e = order_lap_end(order_laps_for_gates(racer->gates.gates_passed));
    int32_t own_time = time_at(racer, e);
    // A missing time is never a finish, whatever the leader's time at f.
    if (own_time < 0 || own_time < leader_time)
        return false;
    racer->finished = racer->gates.finished = true;
    return true;
}

bool racer_gone(int slot)
{
    const RaceState &race = race_state();
    if (slot < 0 || slot >= RACER_SLOTS || !race.racers[slot])
        return true;
    int32_t newest = history_newest_frame(slot);
    if (race.network) {
        if (slot == race.local_slot)
            return false;
        return newest < 0 || race.frame - newest >= GONE_NETWORK_FRAMES;
    }
    if (race.kind[slot] != Replayed)
        return false;
    return newest < 0 || race.frame - newest > GONE_OFFLINE_FRAMES;
}

// The racer's time from gate a (a < 0: the start) to gate b when it passed a, b and
// every gate between; false otherwise.
static bool clean_time(const Racer *racer, int64_t a, int64_t b, int32_t *frames)
{
    if (b >= racer->gates.gates_passed)
        return false;
    int32_t from = a < 0 ? race_state().start_frame : time_at(racer, a);
    if (from < 0)
        return false;
    for (int64_t g = std::max<int64_t>(a + 1, 0); g <= b; g++)
        if (time_at(racer, g) < 0)
            return false;
    *frames = time_at(racer, b) - from;
    return true;
}

// A stretch in the normal laps is measured in every lap the racer has ridden it
// cleanly, and averaged over those laps.
static bool segment_time(const Racer *racer, int a, int b, int32_t *frames)
{
    const TimingTables &t = timing_tables();
    if (a < t.first_lap_count || t.normal_lap_count <= 0)
        return clean_time(racer, a, b, frames);
    int64_t first = t.first_lap_count + (a - t.first_lap_count) % t.normal_lap_count;
    int64_t length = (int64_t)b - a;
    int64_t sum = 0;
    int laps = 0;
    for (int64_t s = first; s + length < racer->gates.gates_passed; s += t.normal_lap_count) {
        int32_t one;
        if (clean_time(racer, s, s + length, &one)) {
            sum += one;
            laps++;
        }
    }
    if (laps == 0)
        return false;
    *frames = (int32_t)(sum / laps);
    return true;
}

int32_t reference_segment_time(int a, int b)
{
    const RaceState &race = race_state();
    int64_t sum = 0;
    int count = 0;
    for (int i = 0; i < race.order_count; i++) {
        int slot = race.order[i].slot;
        if (race.network && race.network_warmup && slot == race.local_slot)
            continue;
        const Racer *racer = race.racers[slot];
        int32_t frames;
        if (racer && segment_time(racer, a, b, &frames)) {
            sum += frames;
            count++;
        }
    }
    return count ? (int32_t)(sum / count) : NO_REFERENCE_FRAMES;
}

int32_t cutting_penalty(const Racer *racer, int32_t *gates_passed, int *laps_taken)
{
    int32_t p = racer->gates.gates_passed;
    int64_t penalty = 0;
    int32_t last = race_state().start_frame;
    int missed = 0;
    // Gates beyond the time array are missed too, but no passed gate follows them.
    int scan = (int)std::min<int64_t>(p, racer->gates.times.size());
    for (int g = 0; g < scan; g++) {
        int32_t t = racer->gates.times[g];
        if (t < 0) {
            missed++;
            continue;
        }
        if (missed > 0) {
            int64_t reference = (int64_t)reference_segment_time(g - missed - 1, g) + TICK_RATE;
            if (t - last < reference)
                penalty += reference - (t - last);
        }
        last = t;
        missed = 0;
    }

    // A penalty longer than a lap costs whole laps: the last lap stands for each.
    const TimingTables &tables = timing_tables();
    int taken = 0;
    int laps = order_laps_for_gates(p);
    if (laps > 1) {
        int32_t end = time_at(racer, order_lap_end(laps));
        int32_t before = time_at(racer, order_lap_end(laps - 1));
        int64_t lap = end - before;
        if (end >= 0 && before >= 0 && lap > 0) {
            while (lap < penalty && p > tables.first_lap_count + tables.normal_lap_count) {
                p -= tables.normal_lap_count;
                penalty -= lap;
                taken++;
            }
        }
    }
    if (gates_passed)
        *gates_passed = p;
    if (laps_taken)
        *laps_taken = taken;
    return (int32_t)std::min<int64_t>(penalty, INT32_MAX);
}

// Step 3 of the update: a timed race ends configured_laps laps after the lap during
// which its time ran out.
static void apply_time_rule()
{
    RaceState &race = race_state();
    if (race.order_count == 0 || timing_tables().checkpoint_count == 0)
        return;
    int64_t expiry = (int64_t)race.start_frame + race.duration;
    const Racer *leader = race.racers[race.order[0].slot];
    int64_t o = order_laps_for_gates(leader ? leader->gates.gates_passed : 0) - 1;
    o = std::max<int64_t>(std::min<int64_t>(o, race.total_laps), 1);
    for (;;) {
        int64_t end = order_lap_end(o);
        int32_t first = 0;
        for (int i = 0; i < race.order_count; i++) {
            const Racer *racer = race.racers[race.order[i].slot];
            int32_t t = racer ? time_at(racer, end) : -1;
            if (t > 0 && (first == 0 || t < first))
                first = t;
        }
        if (first == 0)
            return;
        if (first < expiry) {
            race.total_laps = (int32_t)std::max<int64_t>(race.total_laps,
                                                         o + race.configured_laps + 1);
            o++;
        } else {
            race.total_laps = (int32_t)std::min<int64_t>(race.total_laps,
                                                         o + race.configured_laps);
            return;
        }
    }
}

// Every racer in the order has finished or left. An empty order never ends.
static bool race_over()
{
    RaceState &race = race_state();
    if (race.order_count == 0)
        return false;
    for (int i = 0; i < race.order_count; i++) {
        int slot = race.order[i].slot;
        if (race.network && race.network_warmup && slot == race.local_slot)
            continue;
        Racer *racer = race.racers[slot];
        if (racer && is_finished(racer))
            continue;
        if (racer_gone(slot))
            continue;
        return false;
    }
    return true;
}

static void build_results()
{
    RaceState &race = race_state();
    race.results_count = 0;
    for (int slot = 0; slot < RACER_SLOTS; slot++) {
        race.penalty[slot] = 0;
        race.laps_taken[slot] = 0;
        const Racer *racer = race.racers[slot];
        if (!racer)
            continue;
        OrderEntry &e = race.results[race.results_count++];
        e.slot = slot;
        race.penalty[slot] = cutting_penalty(racer, &e.gates_passed, &race.laps_taken[slot]);
        e.time = (int32_t)std::min<int64_t>((int64_t)last_gate_time(racer) + race.penalty[slot],
                                            INT32_MAX);
    }
    sort_order(race.results, race.results_count);
}

void update_running_order()
{
    RaceState &race = race_state();
    if (race.results_final)
        return;

    race.order_count = 0;
    for (int slot = 0; slot < RACER_SLOTS; slot++) {
        const Racer *racer = race.racers[slot];
        if (racer)
            race.order[race.order_count++] = {slot, racer->gates.gates_passed,
                                              last_gate_time(racer)};
    }
    sort_order(race.order, race.order_count);
    const Racer *leader = race.order_count ? race.racers[race.order[0].slot] : nullptr;

    if (race.halfway_lap == NOT_KNOWN_LAPS &&
        (int64_t)race.frame >= (int64_t)race.start_frame + race.duration / 2)
        race.halfway_lap = order_laps_for_gates(leader ? leader->gates.gates_passed : 0) + 1;

    if (race.duration != 0 && (int64_t)race.frame >= (int64_t)race.start_frame + race.duration)
        apply_time_rule();

    if (!race_over())
        return;
    build_results();
    if (race.results_count > 0 && is_finished(race.racers[race.results[0].slot]))
        write_results();
    race.results_final = true;
    record_event_result();
}
