// "ruttmoor-sim race": a whole race without a window, set up and stepped by the same
// new_race and game_step the game uses. The local rider (lineup code 1) rides a
// control script; computer riders drive themselves. Every 10 s of race time the
// running order is printed; at the end the results order. The home directory gets
// what the game would leave there: "@results.txt", demos and series standings.
//
// Output lines:
//   order t=SECONDS POS:NUMBER/GATES ...      every 10 s of simulated time
//   result POS NUMBER BIKE LAPS TOTAL_S BEST_LAP BEST_S PENALTY_S
//   rider SLOT NUMBER crashes=C by_riders=B recoveries=R put_back=P rider_contacts=K
//         tangled=T gates_missed=M
//   (rider_contacts in frames; tangled: times it was held in another bike for 3 s
//   and passed through it)
//   (counted while the rider races: from the start to its own finish)
//   with --trace: "crash|recover SLOT NUMBER t=S gate=G x=X z=Z mph=V [rider]" at each,
//   "tangled SLOT NUMBER with=SLOT t=S x=X z=Z" when two bikes start to pass through
//   each other, and "missed SLOT NUMBER gate=G" for each gate a rider missed
//   finished=0|1 frames=N
//   timing wall=S raced=S factor=F pilot=P        (P: share of the wall time spent
//                                                 in the auto pilot's per-frame step)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "autopilot/pilot.h"
#include "core/common.h"
#include "core/options.h"
#include "core/settings.h"
#include "race/demo.h"
#include "race/order.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "race/results.h"
#include "sim/catalogue.h"
#include "sim/racer.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/track.h"
#include "tools/sim_tool.h"

static const char RACE_USAGE[] =
    "usage: ruttmoor-sim race --track TRACKDIR [--lineup CODES] [--laps N] [--minutes M]\n"
    "                         [--record] [--play FILE] [--time-trial] [--script FILE]\n"
    "                         [--seconds S] [--skill 0|1|2] [--learn] [--debug] [--trace]\n"
    "                         [--bike NAME] [--set KEY=VALUE]...\n";

struct RaceOptions {
    const char *track = nullptr;
    int lineup[RACER_SLOTS] = {};
    bool lineup_given = false;
    int laps = 3;
    double minutes = 0;
    bool record = false;
    const char *play = nullptr;
    bool time_trial = false;
    const char *script = nullptr;
    double seconds = 3600;
    int skill = 1;
    bool trace = false;
};

static bool parse_number(const char *text, double lo, double hi, double *out)
{
    char *end;
    double v = strtod(text, &end);
    if (end == text || *end || !std::isfinite(v) || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// "2,2,1,1003": codes for slots 0, 1, ...; at most 160, each a non-negative integer.
static bool parse_lineup(const char *text, int *codes)
{
    int n = 0;
    const char *p = text;
    while (*p) {
        char *end;
        long v = strtol(p, &end, 10);
        if (end == p || v < 0 || v > 100000 || n >= RACER_SLOTS)
            return false;
        codes[n++] = (int)v;
        if (*end == ',')
            end++;
        else if (*end)
            return false;
        p = end;
    }
    return n > 0;
}

// False after the usage or the reason has been printed.
static bool parse_race_options(char **args, RaceOptions *o)
{
    for (int i = 0; args[i]; i++) {
        const char *a = args[i], *next = args[i + 1];
        if (strcmp(a, "--record") == 0) {
            o->record = true;
            continue;
        }
        if (strcmp(a, "--time-trial") == 0) {
            o->time_trial = true;
            continue;
        }
        if (strcmp(a, "--trace") == 0) {
            o->trace = true;
            continue;
        }
        if (strcmp(a, "--debug") == 0) {
            startup_options_edit().debug = 1;       // the line and pilot log lines
            continue;
        }
        if (strcmp(a, "--learn") == 0) {
            startup_options_edit().learn = true;     // the line files are written
            continue;
        }
        if (!next || a[0] != '-' || a[1] != '-') {
            fputs(RACE_USAGE, stderr);
            return false;
        }
        i++;
        double v = 0;
        bool ok;
        if (strcmp(a, "--track") == 0) {
            o->track = next;
            ok = true;
        } else if (strcmp(a, "--lineup") == 0) {
            ok = o->lineup_given = parse_lineup(next, o->lineup);
        } else if (strcmp(a, "--laps") == 0) {
            ok = parse_number(next, 0, 1000, &v);
            o->laps = (int)v;
        } else if (strcmp(a, "--minutes") == 0) {
            ok = parse_number(next, 0, 600, &o->minutes);
        } else if (strcmp(a, "--play") == 0) {
            o->play = next;
            ok = true;
        } else if (strcmp(a, "--script") == 0) {
            o->script = next;
            ok = true;
        } else if (strcmp(a, "--seconds") == 0) {
            ok = parse_number(next, 1.0 / 128, 86400, &o->seconds);
        } else if (strcmp(a, "--skill") == 0) {
            ok = parse_number(next, 0, 2, &v) && v == floor(v);
            o->skill = (int)v;
        } else if (strcmp(a, "--bike") == 0 || strcmp(a, "--set") == 0) {
            std::string assignment = a[2] == 'b' ? std::string("bike=") + next : next;
            if (!set_setup_value(assignment.c_str()))
                return false;   // the reason is printed
            ok = true;
        } else {
            fputs(RACE_USAGE, stderr);
            return false;
        }
        if (!ok) {
            fprintf(stderr, "Bad value '%.200s' for %s\n", next, a);
            return false;
        }
    }
    if (!o->track) {
        fputs(RACE_USAGE, stderr);
        return false;
    }
    return true;
}

static void print_order(double t)
{
    const RaceState &race = race_state();
    printf("order t=%.0f", t);
    for (int i = 0; i < race.order_count; i++) {
        const OrderEntry &e = race.order[i];
        const Racer *r = race.racers[e.slot];
        printf(" %d:%s/%d", i + 1, r ? r->plate : "?", e.gates_passed);
    }
    printf("\n");
}

static void print_results()
{
    const RaceState &race = race_state();
    const OrderEntry *entries = race.results_final ? race.results : race.order;
    int count = race.results_final ? race.results_count : race.order_count;
    for (int i = 0; i < count; i++) {
        const OrderEntry &e = entries[i];
        const Racer *r = race.racers[e.slot];
        if (!r)
            continue;
        int best = 0;
        double best_s = best_lap(r, &best);
        double total = e.gates_passed > 0 ? (e.time - race.start_frame) * PHYSICS_TICK : 0;
        printf("result %d %s %s %d %.3f %d %.3f %.3f\n", i + 1, r->plate, r->model.name,
               laps_for_gates(e.gates_passed), total, best, best_s,
               race.penalty[e.slot] * PHYSICS_TICK);
    }
}

// The auto pilot's step, timed.
static void (*pilot_step_untimed)(Racer *racer);
static double pilot_seconds;

static double seconds_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static void timed_pilot_step(Racer *racer)
{
    double t0 = seconds_now();
    pilot_step_untimed(racer);
    pilot_seconds += seconds_now() - t0;
}

int run_race(char **args)
{
    RaceOptions o;
    if (!parse_race_options(args, &o))
        return EXIT_USAGE;
    std::vector<ControlLine> script;
    if (o.script && !read_control_script(o.script, &script))
        return EXIT_FAILED;
    if (!load_track_for_command(o.track))
        return EXIT_FAILED;
    settings_edit().track = intern_string(o.track);
    race_set_track_loaded(true);
    RaceHooks hooks{};
    install_auto_pilot(&hooks);
    pilot_step_untimed = hooks.auto_pilot_step;
    if (pilot_step_untimed)
        hooks.auto_pilot_step = timed_pilot_step;
    pilot_seconds = 0;
    race_set_hooks(&hooks);
    const char *demo_track = nullptr;
    bool started = false;
    if (o.play && !open_demo_file(o.play, &demo_track)) {
        fprintf(stderr, "Can't play demo '%.900s'\n", o.play);
    } else if (!create_physics_world()) {
        fprintf(stderr, "Can't create the physics world\n");
    } else {
        race_clear_slots();
        if (!o.lineup_given && !o.time_trial)
            o.lineup[0] = LINEUP_LOCAL;
        int duration = (int)(o.minutes * 60 / PHYSICS_TICK);
        started = new_race(o.time_trial ? nullptr : o.lineup, o.play != nullptr, o.record,
                           duration, o.laps, o.skill);
        if (!started)
            fprintf(stderr, "Can't start a race on '%.900s'\n", o.track);
    }
    if (!started) {
        free_demo_data();
        destroy_physics_world();
        free_track();
        race_set_track_loaded(false);
        return EXIT_FAILED;
    }

    RaceState &race = race_state();
    int32_t first = race.frame;
    // What happened to each rider while it raced: crashes (and those that began
    // within half a second of a touch with another rider), times the auto pilot lost
    // its path and went into recovery, and frames with a contact with another rider.
    static int crashes[RACER_SLOTS], by_riders[RACER_SLOTS], recoveries[RACER_SLOTS],
        contacts[RACER_SLOTS], marshals[RACER_SLOTS], tangles[RACER_SLOTS];
    static bool was_crashed[RACER_SLOTS], was_recovering[RACER_SLOTS], was_tangled[RACER_SLOTS];
    for (int s = 0; s < RACER_SLOTS; s++) {
        crashes[s] = by_riders[s] = recoveries[s] = contacts[s] = marshals[s] = tangles[s] = 0;
        was_crashed[s] = was_recovering[s] = was_tangled[s] = false;
    }
    int32_t frames = (int32_t)(o.seconds / PHYSICS_TICK);
    double wall0 = seconds_now();
    size_t next_line = 0;
    ControlLine in{};
    for (int32_t k = 0; k < frames && !race.results_final; k++) {
        Racer *rider = race.local_slot != NO_SLOT ? race.racers[race.local_slot] : nullptr;
        if (rider && race.kind[race.local_slot] == LocalRider) {
            double now = k * PHYSICS_TICK;
            while (next_line < script.size() && script[next_line].t <= now + 1e-9)
                in = script[next_line++];
            float clutch = clutch_from_lever(rider->clutch, in.clutch_lever);
            apply_controls(rider, in.steer, in.front_brake, in.rear_brake, in.throttle, in.dab,
                           in.back_up, in.lean, clutch, in.shift);
        }
        game_step();
        for (int s = 0; s < RACER_SLOTS; s++) {
            const Racer *r = race.racers[s];
            if (!r)
                continue;
            bool crashed = r->crash_countdown > 0;
            bool recovering = race.kind[s] == AutoPilot && pilot_recovery(r) != 0;
            if (!r->finished && !r->gates.finished && race.frame > race.start_frame) {
                bool crash = crashed && !was_crashed[s];
                bool recover = recovering && !was_recovering[s];
                bool touched = r->had_rider_contact && r->rider_contact_frame >= race.frame - 65;
                crashes[s] += crash;
                by_riders[s] += crash && touched;
                recoveries[s] += recover;
                contacts[s] += r->had_rider_contact && r->rider_contact_frame == race.frame - 1;
                marshals[s] +=
                    race.kind[s] == AutoPilot && pilot_marshal_frame(r) == race.frame - 1;
                tangles[s] += r->tangled_with >= 0 && !was_tangled[s];
                if (o.trace && (crash || recover)) {
                    const dReal *p = dBodyGetPosition(r->bodies[BODY_FRAME]);
                    printf("%s %d %s t=%.2f gate=%d x=%.0f z=%.0f mph=%.0f%s\n",
                           crash ? "crash" : "recover", s, r->plate,
                           (race.frame - race.start_frame) * PHYSICS_TICK,
                           r->gates.gates_passed, p[0], p[2], racer_speed_mph(r),
                           crash && touched ? " rider" : "");
                }
            }
            was_crashed[s] = crashed;
            was_recovering[s] = recovering;
            if (o.trace && r->tangled_with >= 0 && !was_tangled[s]) {
                const dReal *p = dBodyGetPosition(r->bodies[BODY_FRAME]);
                printf("tangled %d %s with=%d t=%.2f x=%.0f z=%.0f\n", s, r->plate, r->tangled_with,
                       (race.frame - race.start_frame) * PHYSICS_TICK, p[0], p[2]);
            }
            was_tangled[s] = r->tangled_with >= 0;
        }
        if ((race.frame - first) % 1280 == 0)
            print_order((race.frame - first) * PHYSICS_TICK);
    }
    double wall = seconds_now() - wall0;
    print_results();
    for (int s = 0; s < RACER_SLOTS; s++) {
        const Racer *r = race.racers[s];
        if (!r || race.kind[s] == Replayed)
            continue;
        int missed = 0;
        for (int g = 0; g < r->gates.gates_passed; g++) {
            if (gate_time(&r->gates, g) >= 0)
                continue;
            missed++;
            if (o.trace)
                printf("missed %d %s gate=%d\n", s, r->plate, g);
        }
        printf("rider %d %s crashes=%d by_riders=%d recoveries=%d put_back=%d rider_contacts=%d "
               "tangled=%d gates_missed=%d\n",
               s, r->plate, crashes[s], by_riders[s], recoveries[s], marshals[s], contacts[s],
               tangles[s], missed);
    }
    printf("finished=%d frames=%d\n", race.results_final ? 1 : 0, race.frame - first);
    double raced = (race.frame - first) * PHYSICS_TICK;
    printf("timing wall=%.1f raced=%.1f factor=%.2f pilot=%.3f\n", wall, raced,
           wall > 0 ? raced / wall : 0, wall > 0 ? pilot_seconds / wall : 0);
    stop_demo_files();
    free_demo_data();
    free_racers();
    destroy_physics_world();
    free_track();
    race_set_track_loaded(false);
    return EXIT_DONE;
}
