// The race. new_race tears the last race down and builds the next one in a fixed
// order (personalities, track, grid, demo, race length); game_step advances it by
// one tick: replayed poses, contacts between bikes, the world step, each racer's
// own step and gate crossings, the starting gate, recording and read-ahead, and
// the time trial's laps. Everything the race does not own (auto pilot, roost,
// erosion, line learning, loading screen, camera, engine sounds) sits behind the
// hooks.
#include "race/race.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "core/settings.h"
#include "platform/vrak.h"
#include "race/demo.h"
#include "race/order.h"
#include "race/race_hooks.h"
#include "race/replay.h"
#include "race/roster.h"
#include "race/series.h"
#include "sim/contact.h"
#include "sim/racer_body.h"
#include "sim/racer_pose.h"
#include "sim/setup.h"
#include "sim/step.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

static RaceState initial_race()
{
    RaceState r{};
    r.local_slot = NO_SLOT;
    r.off_course_bias = 10;
    r.off_course_scale = 1.5f;
    return r;
}

static RaceState race = initial_race();
static bool track_loaded;
static RaceHooks hooks;
static int personality_order[ROSTER_SIZE];
static int gate_touched_frame[RACER_SLOTS];     // per starting gate: a bike touched it

// The racer in a slot when it has a body to simulate (a record without bodies, as
// the main loop's tests make, is left alone).
static Racer *bodied(int slot)
{
    Racer *r = race.racers[slot];
    return r && r->bodies[BODY_FRAME] ? r : nullptr;
}

void race_set_hooks(const RaceHooks *h)
{
    hooks = h ? *h : RaceHooks{};
}

RaceState &race_state()
{
    return race;
}

bool race_track_loaded()
{
    return track_loaded;
}

void race_set_track_loaded(bool loaded)
{
    track_loaded = loaded;
}

void race_clear_slots()
{
    for (int i = 0; i < RACER_SLOTS; i++) {
        race.racers[i] = nullptr;
        race.kind[i] = Replayed;
    }
    race.local_slot = NO_SLOT;
}

static void status(const char *text)
{
    if (hooks.status_text)
        hooks.status_text(text);
}

// ---------------------------------------------------------------------------
// Lap arithmetic over the loaded lap layout.

int laps_for_gates(int32_t gates_passed)
{
    const TimingTables &t = timing_tables();
    int f = t.first_lap_count, n = t.normal_lap_count;
    if (gates_passed < f || f <= 0)
        return 0;
    if (n <= 0)
        return 1;
    return (gates_passed - f) / n + 1;
}

int32_t lap_end_index(int64_t k)
{
    if (k <= 0)
        return 0;
    int64_t g = lap_end_gate(k);
    return g > INT32_MAX ? INT32_MAX : (int32_t)g;
}

// ---------------------------------------------------------------------------
// Racers.

static void free_slot(int slot)
{
    if (!race.racers[slot])
        return;
    if (hooks.racer_freed)
        hooks.racer_freed(slot, race.racers[slot]);
    destroy_racer(race.racers[slot]);
    race.racers[slot] = nullptr;
}

void free_racers()
{
    for (int i = 0; i < RACER_SLOTS; i++)
        free_slot(i);
    race.order_count = 0;
}

// Frees every racer but slot 0 and makes those slots Replayed (time trial).
static void keep_only_rider()
{
    for (int i = 1; i < RACER_SLOTS; i++) {
        free_slot(i);
        race.kind[i] = Replayed;
    }
}

// Turns the racer about the vertical through its frame, puts its frame at (x, z)
// with its design ground level at height, then raises it in quarter feet until it
// is clear of the terrain (at most 100 ft).
static void place_racer(Racer *racer, double x, double height, double z, double heading)
{
    const BikeVec3 &fp = racer->model.frame_position;
    dMatrix3 turn;
    dRFromAxisAndAngle(turn, 0, 1, 0, heading);
    for (dBodyID b : racer->bodies) {
        const dReal *p = dBodyGetPosition(b);
        dVector3 rel = {p[0] - fp.x, p[1], p[2] - fp.z, 0}, moved;
        dMultiply0_331(moved, turn, rel);
        dBodySetPosition(b, x + moved[0], height + moved[1], z + moved[2]);
        dMatrix3 r;
        dMultiply0_333(r, turn, dBodyGetRotation(b));
        dBodySetRotation(b, r);
    }
    const Terrain *t = track_terrain();
    for (int i = 0; t && i < 400 && terrain_touch_test(racer, t); i++)
        move_racer(racer, 0, 0.25, 0);
}

// The height-field sample of the cell holding (x, z).
static double sample_height(double x, double z)
{
    const Terrain *t = track_terrain();
    if (!t || t->heights.empty() || !(t->cell > 0))
        return 0;
    int n = (1 << (t->size_log2 + 1)) + 1;
    double fi = floor(x / t->cell), fj = floor(z / t->cell);
    int i = (int)std::clamp(fi, 0.0, (double)(n - 1));
    int j = (int)std::clamp(fj, 0.0, (double)(n - 1));
    size_t k = (size_t)j * n + i;
    return k < t->heights.size() ? t->heights[k] : 0;
}

static void grid_position(int s, double *x, double *z, double *heading)
{
    const TimingTables &t = timing_tables();
    int g = t.starting_gate_count;
    if (g > 0) {
        const StartingGate &gate = t.starting_gates[s % g];
        double row = s / g + 0.0625;
        *x = gate.x + sin(gate.angle) * row * 10;
        *z = gate.z + cos(gate.angle) * row * 10;
        *heading = gate.angle;
        return;
    }
    const Terrain *terrain = track_terrain();
    double half = terrain ? terrain->extent / 2.0 : 0;
    *x = half + 5 * s;
    *z = half;
    *heading = 0;
}

// The personality list: 0..79 shuffled with the generator seeded by the frame.
static void shuffle_personalities()
{
    random_seed((uint32_t)race.frame);
    for (int i = 0; i < ROSTER_SIZE; i++)
        personality_order[i] = i;
    for (int i = ROSTER_SIZE - 1; i >= 1; i--) {
        int partner = (int)((random_u32() / 65536) % (uint32_t)i);
        std::swap(personality_order[i], personality_order[partner]);
    }
}

// Swaps into position next the first personality, searched from the end of the
// list, whose entry matches; false when none does.
static bool swap_in(int next, bool (*match)(const RosterEntry &, int), int arg)
{
    for (int i = ROSTER_SIZE - 1; i >= next; i--) {
        if (match(roster_entry(personality_order[i]), arg)) {
            std::swap(personality_order[i], personality_order[next]);
            return true;
        }
    }
    return false;
}

static bool bike_contains(const RosterEntry &e, int which)
{
    return strstr(e.bike, which == 125 ? "125" : "250") != nullptr;
}

static bool has_number(const RosterEntry &e, int n)
{
    return atoi(e.number) == n;
}

static const char *or_null(const char *s)
{
    return s && *s ? s : nullptr;
}

// Creates the racer for one slot from its lineup code. Returns null for an empty
// slot; *kind says how it is driven.
static Racer *create_slot(int slot, int code, int *next_personality, int *next_demo_rider,
                          ControlKind *kind)
{
    *kind = Replayed;
    Racer *racer = nullptr;
    const DemoInfo *demo = demo_info();
    if (code == LINEUP_DEMO_RIDER) {
        if (!demo || *next_demo_rider >= demo->rider_count)
            return nullptr;
        DemoRider &r = demo_info_edit()->riders[(*next_demo_rider)++];
        racer = create_racer(current_bike_name(r.bike), slot, r.number, or_null(r.rider_texture),
                             or_null(r.head_texture), or_null(r.bike_texture),
                             or_null(r.wheel_texture));
        if (racer) {
            r.slot = slot;
            snprintf(racer->rider_name, sizeof racer->rider_name, "%s", r.name);
        }
        return racer;
    }
    if (code == LINEUP_LOCAL) {
        const BikeSetup &s = bike_setup();
        const char *texture[4];
        const ChoiceSetting *c[4] = {&s.rider_texture, &s.head_texture, &s.bike_texture,
                                     &s.wheel_texture};
        for (int i = 0; i < 4; i++)
            texture[i] = or_null(c[i]->text());
        racer = create_racer(current_bike_name(s.bike.text()), slot, s.number.text.c_str(),
                             texture[0], texture[1], texture[2], texture[3]);
        if (racer) {
            *kind = LocalRider;
            snprintf(racer->rider_name, sizeof racer->rider_name, "%s", s.name.text.c_str());
        }
        return racer;
    }
    if (code == LINEUP_NETWORK)
        return nullptr;     // peers arrive with the network client
    bool pilot = code == LINEUP_AUTO_PILOT || code == LINEUP_AUTO_125 ||
                 code == LINEUP_AUTO_250 || code >= LINEUP_NUMBER;
    if (!pilot) {
        racer = create_racer("rm125", slot, "", nullptr, nullptr, nullptr, nullptr);
        if (racer)
            *kind = AutoPilot;  // personality 0: the auto pilot leaves it alone
        return racer;
    }
    int next = *next_personality % ROSTER_SIZE;
    if (code == LINEUP_AUTO_125 || code == LINEUP_AUTO_250)
        swap_in(next, bike_contains, code == LINEUP_AUTO_125 ? 125 : 250);
    else if (code >= LINEUP_NUMBER)
        swap_in(next, has_number, code - LINEUP_NUMBER);
    const RosterEntry &e = roster_entry(personality_order[next]);
    racer = create_racer(current_bike_name(e.bike), slot, e.number, or_null(e.rider_texture),
                         or_null(e.head_texture), or_null(e.bike_texture),
                         or_null(e.wheel_texture));
    if (!racer)
        return nullptr;
    *kind = AutoPilot;
    snprintf(racer->rider_name, sizeof racer->rider_name, "Roborider");
    const char *personality = startup_options().practice ? "tester" : e.personality;
    if (hooks.set_personality)
        hooks.set_personality(racer, personality);
    else
        racer->personality = 1;
    (*next_personality)++;
    return racer;
}

static void place_slot(int slot, Racer *racer, ControlKind kind)
{
    double x, z, heading;
    grid_position(slot, &x, &z, &heading);
    reset_racer_physics(racer);
    place_racer(racer, x, sample_height(x, z), z, heading);
    racer->gates.slot = slot;
    if (kind == Replayed) {
        racer->activity = 0;
        sleep_racer(racer);
        racer->setup.roll_damping = 100;
        racer->setup.full_lock_speed = 5;
        racer->setup.restricted_lock_speed = 50;
        racer->setup.restricted_lock = 0.04363323;
    } else {
        racer->activity = 1;
        wake_racer(racer);
    }
    if (hooks.racer_reset)
        hooks.racer_reset(racer);
    if (kind == LocalRider) {
        race.false_start_hold = 0;
        const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
        for (int k = 0; k < 3; k++)
            race.start_position[k] = (float)p[k];
    }
}

// ---------------------------------------------------------------------------
// Off course

// Off course at race gate g: slower from the gates before it to the gates after it
// than the leading racer that timed that stretch, by the scale plus the bias.
bool racer_off_course(const Racer *r, int g)
{
    int32_t b = race.start_frame;
    for (int k = g - 1; k >= g - 3 && k >= 0; k--) {
        int32_t t = gate_time(&r->gates, k);
        if (t >= 0) {
            b = t;
            break;
        }
    }
    int32_t c = race.frame;
    for (int k = g; k < r->gates.gates_passed; k++) {
        int32_t t = gate_time(&r->gates, k);
        if (t >= 0) {
            c = t;
            break;
        }
    }
    for (int i = 0; i < race.order_count; i++) {
        int s = race.order[i].slot;
        const Racer *o = s >= 0 && s < RACER_SLOTS ? race.racers[s] : nullptr;
        if (!o || o->gates.gates_passed <= g)
            continue;
        int32_t t0 = gate_time(&o->gates, g - 1), t1 = gate_time(&o->gates, g);
        if (t0 < 0 || t1 < 0)
            continue;
        double dt = PHYSICS_TICK;
        return (t1 - t0) * dt * race.off_course_scale + race.off_course_bias <= (c - b) * dt;
    }
    return false;
}

bool racer_out_of_race(const Racer *r)
{
    if (r->finished || r->gates.finished || r->gates.gates_passed <= 0)
        return true;
    for (int g = r->gates.gates_passed - 1; g >= r->gates.gates_passed - 4 && g >= 0; g--) {
        if (racer_off_course(r, g))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Gate hooks: the running order and its leader.

static int32_t leader_gates()
{
    if (race.order_count <= 0)
        return 0;
    return race.order[0].gates_passed;
}

// Seeking back in a demo: every racer forgets the gates it passed after frame.
static void rewind_gates(int32_t frame)
{
    for (Racer *r : race.racers) {
        if (!r)
            continue;
        int g = r->gates.gates_passed;
        while (g > 0 && (gate_time(&r->gates, g - 1) > frame || gate_time(&r->gates, g - 1) < 0))
            g--;
        if (g != r->gates.gates_passed)
            set_gates_passed(&r->gates, g);
    }
    race.results_final = false;
    update_running_order();
}

static bool roost_on = true;

static void set_roost(bool on)
{
    roost_on = on;
}

static const char *rider_name_of(int slot)
{
    if (slot < 0 || slot >= RACER_SLOTS || !race.racers[slot])
        return "";
    return race.racers[slot]->rider_name;
}

static void install_demo_hooks()
{
    DemoHooks d{};
    d.game_step = game_step;
    d.set_roost = set_roost;
    d.rewind_gates = rewind_gates;
    d.rider_name = rider_name_of;
    demo_set_hooks(&d);
}

static void install_gate_hooks()
{
    GateHooks g{};
    if (hooks.line_hooks)
        g = *hooks.line_hooks;
    g.update_running_order = update_running_order;
    g.leader_gates_passed = leader_gates;
    gates_set_hooks(&g);
}

// The gate objects' orientations as the track placed them; the bar turns from there.
static float gate_base[RACER_SLOTS][3][3];
static const void *gate_base_track;

static void remember_gate_bases()
{
    const TimingTables &t = timing_tables();
    const Track &tr = track();
    for (int g = 0; g < t.starting_gate_count && g < RACER_SLOTS; g++) {
        int i = t.starting_gates[g].statue;
        if (i >= 0 && i < (int)tr.statues.size())
            memcpy(gate_base[g], tr.statues[i].orientation, sizeof gate_base[g]);
    }
    gate_base_track = track_directory();
}

// The base orientation turned by angle about the gate's own x axis. A statue's
// rows are its axes in world terms, so the turn (rows (1, 0, 0), (0, c, s),
// (0, -s, c)) mixes the base's rows: it multiplies the base from the left.
static void pose_gate_statue(int gate, double angle)
{
    int i = timing_tables().starting_gates[gate].statue;
    Track &tr = track_edit();
    if (i < 0 || i >= (int)tr.statues.size())
        return;
    float c = (float)cos(angle), s = (float)sin(angle);
    const float turn[3][3] = {{1, 0, 0}, {0, c, s}, {0, -s, c}};
    float (*o)[3] = tr.statues[i].orientation;
    for (int r = 0; r < 3; r++)
        for (int k = 0; k < 3; k++)
            o[r][k] = turn[r][0] * gate_base[gate][0][k] + turn[r][1] * gate_base[gate][1][k] +
                      turn[r][2] * gate_base[gate][2][k];
}

// ---------------------------------------------------------------------------
// new_race

static bool choose_track(bool play_demo)
{
    const char *wanted = settings().track;
    if (play_demo && open_demo(nullptr, race.time_trial, wanted)) {
        const DemoInfo *d = demo_info();
        wanted = intern_string(d->track);
        race.duration = d->duration;
        race.configured_laps = d->laps;
        race.start_frame = d->start_frame;
    }
    if (!wanted || !*wanted)
        return track_loaded && track_directory();
    const char *loaded = track_directory();
    if (track_loaded && loaded && strcmp(loaded, wanted) == 0)
        return true;
    free_track();
    track_loaded = false;
    if (!load_track(wanted))
        return false;
    track_loaded = true;
    return true;
}

bool new_race(const int *lineup, bool play_demo, bool record_demo, int duration_frames,
              int laps, int skill)
{
    status("Resetting...");
    record_event_result();
    shuffle_personalities();

    status("Remembering lines...");
    if (track_loaded && hooks.save_lines)
        hooks.save_lines();
    close_demo_file();
    stop_recording();
    status("Cleaning up...");
    vrak_log("Deallocating bikes\n");
    free_racers();
    race.order_count = 0;
    vrak_log("Finished deallocating bikes\n");

    race.frame = 0;
    race.duration = duration_frames;
    race.configured_laps = laps;
    race.five_seconds = 640;
    double u = (random_u32() & 0x7fffffff) / 2147483648.0;
    race.start_frame = (int32_t)((1 / PHYSICS_TICK) * (13 + 2 * u));
    race.time_trial = lineup == nullptr;
    race.network = false;
    clear_history();

    if (!choose_track(play_demo))
        return false;
    if (gate_base_track != track_directory())
        remember_gate_bases();

    int codes[RACER_SLOTS] = {};
    if (lineup)
        memcpy(codes, lineup, sizeof codes);
    if (race.time_trial) {
        race.best_lap = race.last_lap = 0;
        codes[0] = LINEUP_LOCAL;
        race.frame = (int32_t)(300 / PHYSICS_TICK);
    }
    bool any = false;
    for (int code : codes)
        any |= code != 0;
    if (!any && !demo_info())
        codes[0] = LINEUP_AUTO_PILOT;

    race.local_slot = NO_SLOT;
    for (int s = 0; s < RACER_SLOTS; s++) {
        if (codes[s] != LINEUP_LOCAL)
            continue;
        if (race.local_slot == NO_SLOT)
            race.local_slot = s;
        else
            codes[s] = 0;
    }
    if (race.local_slot == NO_SLOT) {
        for (int s = 0; s < RACER_SLOTS && race.local_slot == NO_SLOT; s++)
            if (codes[s] != 0)
                race.local_slot = s;
    }

    race.skill = skill;
    if (hooks.load_lines)
        hooks.load_lines(track_directory(), skill);
    status("Analyzing lines...");
    install_gate_hooks();
    install_demo_hooks();
    set_demo_backups(settings().demo_backups);

    status("Loading bikes...");
    int next_personality = 0, next_demo_rider = 0;
    for (int s = 0; s < RACER_SLOTS; s++) {
        ControlKind kind;
        Racer *racer = create_slot(s, codes[s], &next_personality, &next_demo_rider, &kind);
        race.kind[s] = kind;
        race.racers[s] = racer;
        race.penalty[s] = 0;
        race.laps_taken[s] = 0;
        if (!racer) {
            race.kind[s] = Replayed;
            continue;
        }
        place_slot(s, racer, kind);
        if (hooks.racer_created)
            hooks.racer_created(s, racer);
    }

    clear_history();
    if (record_demo)
        start_recording(race.time_trial, track_directory());
    if (hooks.clear_particles)
        hooks.clear_particles();
    vrak_log("%d MB texture memory used\n", 0);

    if (race.duration != 0) {
        race.halfway_lap = race.total_laps = NOT_KNOWN_LAPS;
    } else {
        race.total_laps = race.configured_laps;
        race.halfway_lap = (race.configured_laps + 1) / 2;
    }
    for (float &b : race.gate_bar)
        b = 1;
    for (int &f : gate_touched_frame)
        f = -1;
    TimingTables &tables = timing_tables_edit();
    for (int g = 0; g < tables.starting_gate_count; g++)
        tables.starting_gates[g].bar = 1;

    if (race.time_trial)
        time_trial_start();
    if (demo_recording())
        record_frame(true);
    if (demo_playing())
        read_ahead();
    race.results_final = false;
    race.results_count = 0;
    update_running_order();

    if (race.local_slot == NO_SLOT || !race.racers[race.local_slot])
        race.local_slot = race.order_count > 0 ? race.order[0].slot : NO_SLOT;
    if (race.local_slot != NO_SLOT && race.racers[race.local_slot] &&
        race.kind[race.local_slot] != Replayed) {
        if (!apply_setup(race.racers[race.local_slot], !race.network))
            game_message("Settings not applied.  Mechanic can't keep up error.");
    }
    if (race.local_slot != NO_SLOT && race.racers[race.local_slot] && hooks.camera_to)
        hooks.camera_to(race.racers[race.local_slot]);
    return true;
}

// ---------------------------------------------------------------------------
// The time trial.

static void rider_before_first_lap_line(Racer *racer)
{
    const TimingTables &t = timing_tables();
    if (t.checkpoint_count <= 0)
        return;
    int g = std::max(0, t.first_lap_count - 2);
    int c = race_gate_checkpoint(g);
    if (c < 0)
        return;
    const TimingGate &gate = t.checkpoints[c];
    double heading = atan2(-gate.dx, -gate.dz);
    reset_racer_physics(racer);
    place_racer(racer, gate.x, terrain_height(track_terrain(), gate.x, gate.z), gate.z, heading);
    set_gates_passed(&racer->gates, g);
    if (hooks.racer_reset)
        hooks.racer_reset(racer);
}

void time_trial_start()
{
    close_demo_file();
    stop_recording();
    keep_only_rider();
    Racer *rider = race.racers[0];
    if (rider && timing_tables().checkpoint_count > 0)
        rider_before_first_lap_line(rider);
    race.last_lap = 0;
    update_running_order();
}

// Lap time from gate F - 1 to gate F + N - 1, 0 when a gate between was missed.
static int32_t measured_lap(const Racer *racer)
{
    const TimingTables &t = timing_tables();
    int a = t.first_lap_count - 1, b = t.first_lap_count + t.normal_lap_count - 1;
    if (a < 0 || racer->gates.gates_passed <= b)
        return 0;
    for (int g = a; g <= b; g++)
        if (gate_time(&racer->gates, g) < 0)
            return 0;
    return gate_time(&racer->gates, b) - gate_time(&racer->gates, a);
}

static bool copy_file(const char *from, const char *to)
{
    DataFile *in = data_open(from, "rb");
    if (!in)
        return false;
    std::string part = std::string(to) + ".part";
    DataFile *out = data_open(part.c_str(), "wb");
    if (!out) {
        data_close(in);
        return false;
    }
    char chunk[1024];
    size_t n;
    bool ok = true;
    while ((n = data_read(in, chunk, sizeof chunk)) > 0)
        ok &= data_write(out, chunk, n) == n;
    data_close(in);
    ok &= data_flush(out);
    data_close(out);
    if (!ok) {
        data_remove(part.c_str());
        return false;
    }
    return data_rename(part.c_str(), to);
}

static int tt_laps_rider, tt_laps_ghost;

static void time_trial_lap_end()
{
    int f = timing_tables().first_lap_count;
    Racer *rider = bodied(0), *ghost = bodied(1);
    if (ghost && laps_for_gates(ghost->gates.gates_passed) > tt_laps_ghost) {
        int32_t lap = measured_lap(ghost);
        if (lap > 0 && (race.best_lap == 0 || lap < race.best_lap))
            race.best_lap = lap;
    }
    if (!rider || laps_for_gates(rider->gates.gates_passed) <= tt_laps_rider)
        return;
    int rider_gates = rider->gates.gates_passed;
    int ghost_gates = ghost ? ghost->gates.gates_passed : -1;
    // Whether "lastlap.qkdemo" holds this lap: when its recording could not start
    // or a write failed, the file is an older lap (or part of this one), and it
    // must not replace the best lap kept so far.
    bool lap_recorded = demo_recording();
    close_demo_file();
    stop_recording();
    keep_only_rider();
    // Both the new recording and the new ghost start from empty rings. The old
    // ghost's states, read half a second ahead, would otherwise be blended into
    // the new ghost's first moments; and the rider's state for this very frame,
    // already written with the old lap, would keep the forced record of the new
    // lap out of its file, so that its first block (which times the ghost) would
    // fall up to 16 frames after the line and the ghost would ride ahead of its lap.
    clear_history();

    race.last_lap = measured_lap(rider);
    if (race.last_lap > 0 && (race.last_lap < race.best_lap || race.best_lap == 0))
        race.best_lap = race.last_lap;

    const char *dir = track_directory();
    std::string fast = std::string("@") + (dir ? dir : "") + "/fastlap.qkdemo";
    std::string last = std::string("@") + (dir ? dir : "") + "/lastlap.qkdemo";
    DataFile *probe = data_open(fast.c_str(), "rb");
    bool have_fast = probe != nullptr;
    if (probe)
        data_close(probe);
    if (!have_fast || (lap_recorded && rider_gates > ghost_gates && race.last_lap > 0)) {
        if (!copy_file(last.c_str(), fast.c_str()))
            vrak_log("Can't keep the lap as \"%.900s\"\n", fast.c_str());
    }

    int ghost_start = std::max(0, f - 1);
    if (open_demo(nullptr, true, dir)) {
        int personalities = 0, demo_rider = 0;
        for (int s = 1; s < RACER_SLOTS; s++) {
            ControlKind kind;
            Racer *g = create_slot(s, LINEUP_DEMO_RIDER, &personalities, &demo_rider, &kind);
            if (!g)
                break;
            race.racers[s] = g;
            race.kind[s] = Replayed;
            place_slot(s, g, Replayed);
            set_gates_passed(&g->gates, ghost_start);
            if (hooks.racer_created)
                hooks.racer_created(s, g);
        }
        read_ahead();
    }
    set_gates_passed(&rider->gates, ghost_start);
    const dReal *w = dBodyGetPosition(rider->bodies[BODY_FRONT_WHEEL]);
    float front[3] = {(float)w[0], (float)w[1], (float)w[2]};
    check_gates(&rider->gates, front, race.frame, race.total_laps);
    start_recording(true, dir);
    record_frame(true);
    update_running_order();
}

// ---------------------------------------------------------------------------
// game_step

// A bike touched starting gate g's object in this frame's contacts.
void race_gate_touched(int gate)
{
    if (gate >= 0 && gate < RACER_SLOTS)
        gate_touched_frame[gate] = race.frame;
}

static void drop_starting_gates()
{
    int d = race.network && race.network_warmup ? 127 : 0;
    if ((race.start_frame + d) * PHYSICS_TICK + 10 < race.frame * PHYSICS_TICK)
        return;
    TimingTables &t = timing_tables_edit();
    for (int g = 0; g < t.starting_gate_count; g++) {
        StartingGate &gate = t.starting_gates[g];
        if (gate.statue < 0 || race.gate_bar[g] <= 0)
            continue;
        if (race.frame > race.start_frame + d) {
            const Track &tr = track();
            bool touched = gate.statue < (int)tr.statues.size() &&
                           tr.statues[gate.statue].last_touched_frame == race.frame;
            touched |= gate_touched_frame[g] == race.frame;
            if (!touched)
                race.gate_bar[g] = std::max(0.0f, race.gate_bar[g] - 8 * (float)PHYSICS_TICK);
        }
        gate.bar = race.gate_bar[g];
        pose_gate_statue(g, gate.bar * 0.5890486225480862);
        if (hooks.pose_gate)
            hooks.pose_gate(g, gate.bar * 0.5890486225480862);
    }
}

// Offline: every simulated racer against the track (terrain and objects), then every
// pair of them, fastest first.
//
// Two bikes that have touched without a break for a few seconds and are all but
// stopped have fallen into each other (a pile-up, a re-mount inside another bike);
// their contacts would hold them together for good. Such a pair passes through
// each other until the two are out of each other's reach, then collides again.
static const int TANGLE_TICKS = 3 * 128;
static const double TANGLE_SPEED = 10;      // ft/s

static bool tangled(Racer *a, Racer *b)
{
    if (a->tangled_with != b->gates.slot && b->tangled_with != a->gates.slot)
        return false;
    if (!racers_out_of_reach(a, racer_reach(a), b, racer_reach(b)))
        return true;
    if (a->tangled_with == b->gates.slot)
        a->tangled_with = -1;
    if (b->tangled_with == a->gates.slot)
        b->tangled_with = -1;
    return false;
}

static void collide_bikes()
{
    Racer *list[RACER_SLOTS];
    double speed[RACER_SLOTS];
    int n = 0;
    for (int s = 0; s < RACER_SLOTS; s++) {
        Racer *r = bodied(s);
        if (!r || race.kind[s] == Replayed || !is_racer_active(r))
            continue;
        racer_contacts(r);
        list[n] = r;
        speed[n] = racer_frame_speed(r);
        n++;
    }
    // Insertion sort: at most 160 entries, stable for equal speeds.
    for (int i = 1; i < n; i++) {
        Racer *r = list[i];
        double v = speed[i];
        int j = i - 1;
        for (; j >= 0 && speed[j] < v; j--) {
            list[j + 1] = list[j];
            speed[j + 1] = speed[j];
        }
        list[j + 1] = r;
        speed[j + 1] = v;
    }
    for (int i = 0; i < n; i++) {
        for (int j = i + 1; j < n; j++) {
            Racer *a = list[i], *b = list[j];
            if (tangled(a, b))
                continue;
            RiderTouch touch = rider_contacts(a, b, rider_contact_mode(a, b, race.frame), false);
            rider_contact_rules(a, b, touch, race.frame);
            bool touched = touch.a_parts || touch.b_parts;
            if (touched && race.frame - a->touch_run_frame >= TANGLE_TICKS &&
                race.frame - b->touch_run_frame >= TANGLE_TICKS &&
                racer_frame_speed(a) < TANGLE_SPEED && racer_frame_speed(b) < TANGLE_SPEED) {
                a->tangled_with = b->gates.slot;
                b->tangled_with = a->gates.slot;
            }
        }
    }
}

void reset_off_course_rules()
{
    race.off_course_bias = 10;
    race.off_course_scale = 1.5f;
}

// A peer's last report is under a second old.
static bool state_is_recent(int slot)
{
    int32_t newest = history_newest_frame(slot);
    return newest >= 0 && race.frame - newest < (int32_t)(1 / PHYSICS_TICK);
}

// Network race: only the local rider is collided with the track, and with the peers
// that may still be met on the course. A peer it hits is simulated for a while
// (its activity rises; Racer::activity) and then follows its reports again.
static void collide_network()
{
    if (race.local_slot == NO_SLOT)
        return;
    Racer *local = bodied(race.local_slot);
    if (!local)
        return;
    bool judged = race.order_count > 1 &&
                  (race.frame - race.start_frame) * PHYSICS_TICK > race.off_course_bias;
    bool local_racing = !racer_out_of_race(local);
    Racer *list[RACER_SLOTS];
    double speed[RACER_SLOTS];
    int n = 0;
    for (int s = 0; s < RACER_SLOTS; s++) {
        Racer *r = bodied(s);
        if (!r || s == race.local_slot || race.kind[s] != Replayed || !state_is_recent(s))
            continue;
        if (judged && local_racing && racer_out_of_race(r))
            continue;
        list[n] = r;
        speed[n] = racer_frame_speed(r);
        n++;
    }
    racer_contacts(local);
    for (int i = 0; i < n; i++)
        if (is_racer_active(list[i]))
            racer_contacts(list[i]);
    if (race.network_warmup)
        return;
    for (int i = 1; i < n; i++) {
        for (int j = i; j > 0 && speed[j - 1] < speed[j]; j--) {
            std::swap(list[j], list[j - 1]);
            std::swap(speed[j], speed[j - 1]);
        }
    }
    for (int i = 0; i < n; i++) {
        RiderTouch touch = rider_contacts(local, list[i],
                                          rider_contact_mode(local, list[i], race.frame), true);
        if (!touch.a_parts && !touch.b_parts)
            continue;
        rider_contact_rules(local, list[i], touch, race.frame);
        Racer *peer = list[i];
        if (peer->activity <= 0) {
            for (dBodyID b : peer->bodies) {
                dBodySetLinearVel(b, 0, 0, 0);
                dBodySetAngularVel(b, 0, 0, 0);
            }
        }
        nudge_racer(peer);
    }
}

// A peer's activity fades by a tick a frame; when it drops out of simulation its
// bodies stop where they are.
static void fade_peer(Racer *r)
{
    bool was_active = is_racer_active(r);
    fade_racer(r);
    if (was_active && !is_racer_active(r)) {
        for (dBodyID b : r->bodies) {
            dBodySetLinearVel(b, 0, 0, 0);
            dBodySetAngularVel(b, 0, 0, 0);
        }
    }
}

// Network race, the local rider before and after the drop.
void false_start_check(Racer *racer)
{
    if (race.false_start_hold > 0) {
        race.false_start_hold--;
        racer->front_brake = 1;
        racer->rear_brake = 1;
        racer->back_up = 0;
        racer->clutch = 0;
        racer->throttle = 0;
        racer->dab = 1;
        return;
    }
    if (race.frame > race.start_frame)
        return;
    racer->dab = 1;
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    double d2 = 0;
    for (int k = 0; k < 3; k++)
        d2 += (p[k] - race.start_position[k]) * (p[k] - race.start_position[k]);
    if (d2 >= 9) {
        race.false_start_hold = (race.start_frame - race.frame) + (int32_t)(15 / PHYSICS_TICK);
        game_message("15 second false start penalty");
    }
}

static bool is_finished_hook(Racer *racer)
{
    return is_finished(racer);
}

void game_step()
{
    // In a network warm-up the peers are shown a second behind, where their
    // reports have surely arrived.
    int32_t shown = race.network && race.network_warmup ? race.frame - 127 : race.frame;
    for (int s = 0; s < RACER_SLOTS; s++)
        if (bodied(s) && race.kind[s] == Replayed)
            sample_history(s, shown);
    if (race.time_trial) {
        tt_laps_rider = race.racers[0] ? laps_for_gates(race.racers[0]->gates.gates_passed) : 0;
        tt_laps_ghost = race.racers[1] ? laps_for_gates(race.racers[1]->gates.gates_passed) : 0;
    }

    contacts_set_frame(race.frame);
    if (race.network)
        collide_network();
    else
        collide_bikes();

    if (hooks.emit_roost && roost_on) {
        int list[RACER_SLOTS], n = 0;
        for (int s = 0; s < RACER_SLOTS; s++)
            if (bodied(s))
                list[n++] = s;
        for (int m = 0; m < n; m++) {
            int s = list[(m + race.frame) % n];
            hooks.emit_roost(race.racers[s], race.kind[s] != Replayed);
        }
    }
    physics_world_step();
    if (hooks.erode && startup_options().erode > 0) {
        for (int s = 0; s < RACER_SLOTS; s++)
            if (bodied(s) && race.kind[s] != Replayed)
                hooks.erode(race.racers[s]);
    }

    StepContext ctx{};
    ctx.tick = race.frame;
    ctx.race_start_tick = race.start_frame;
    ctx.terrain = track_terrain();
    ctx.gates_race = timing_tables().checkpoint_count > 0;
    ctx.is_finished = is_finished_hook;
    ctx.align_target = hooks.align_target;
    for (int s = 0; s < RACER_SLOTS; s++) {
        Racer *r = bodied(s);
        if (!r)
            continue;
        if (race.kind[s] == AutoPilot && hooks.auto_pilot_step)
            hooks.auto_pilot_step(r);
        if (race.network && race.kind[s] == Replayed)
            fade_peer(r);
        if (race.network && race.kind[s] == LocalRider && s == race.local_slot)
            false_start_check(r);
        racer_step(r, &ctx);
        if (!race.network || race.kind[s] == LocalRider) {
            const dReal *w = dBodyGetPosition(r->bodies[BODY_FRONT_WHEEL]);
            float front[3] = {(float)w[0], (float)w[1], (float)w[2]};
            check_gates(&r->gates, front, race.frame, race.total_laps);
        }
    }
    if (hooks.update_particles)
        hooks.update_particles();
    drop_starting_gates();
    race.frame++;
    if (race.network && (race.frame & 0x1ff) == 0x1ff)
        update_running_order();
    record_frame(false);
    if (demo_playing())
        read_ahead();
    if (race.time_trial)
        time_trial_lap_end();
}
