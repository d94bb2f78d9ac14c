// "ruttmoor-sim seed": the learnt lines a track ships with. A seeding rider, driven
// by the auto pilot's own controller but entered as an ordinary rider, rides the
// track's "route" (the racing line the track generator drew) lap after lap at a
// pace and a sideways offset that change from pass to pass, so line learning keeps
// its laps as it would keep a person's. Then two rounds of races of computer riders
// on those lines, with learning on, give the lines their statistics, and lines the
// riders keep crashing on are dropped. The three line files are written into the
// home directory's track folder (as "--learn" would), and copied to OUTDIR when
// given.
//
// Output: one line per pass, race and round, "seed skill=S pace=P offset=O laps=L
// crashes=C seconds=T", "race skill=S laps=L1,L2,... crashes=C finished=F
// seconds=T" and "cull skill=S dropped=D".
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "autopilot/lines.h"
#include "autopilot/pilot.h"
#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "core/settings.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "sim/racer.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"
#include "tools/sim_tool.h"

static const char *const SKILL_WORDS[3] = {"novice", "amateur", "expert"};

// "@<track>/route": lines of "x z speed" (ft, ft, ft/s); '#' lines are comments.
bool read_route(const char *track, std::vector<RoutePoint> *out)
{
    std::string name = std::string("@") + track + "/route";
    DataFile *f = data_open(name.c_str(), "rb");
    if (!f)
        return false;
    char line[256];
    while (data_gets(f, line, sizeof line)) {
        RoutePoint p;
        if (line[0] != '#' && sscanf(line, "%lf %lf %lf", &p.x, &p.z, &p.speed) == 3 &&
            std::isfinite(p.x) && std::isfinite(p.z) && std::isfinite(p.speed) && p.speed > 0)
            out->push_back(p);
    }
    data_close(f);
    return out->size() >= 16;
}

// A path for the racer: its own position, then the route from the first point
// ahead of the bike for `laps` laps, moved `offset` ft to the right of the route's
// direction, with the route's speeds scaled by `pace` and points a quarter of a
// second of riding apart, as line learning records them. Heights come from the
// ground.
static std::vector<LinePoint> route_path(const Racer *racer, const std::vector<RoutePoint> &route,
                                         int laps, double pace, double offset)
{
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    const dReal *m = dBodyGetRotation(racer->bodies[BODY_FRAME]);
    double fx = -m[2], fz = -m[10];
    size_t n = route.size(), first = 0;
    double best = 1e30;
    for (size_t i = 0; i < n; i++) {
        double dx = route[i].x - p[0], dz = route[i].z - p[2];
        double d = dx * dx + dz * dz;
        if (dx * fx + dz * fz > 4 && d < best) {
            best = d;
            first = i;
        }
    }
    const Terrain *ground = track_terrain();
    std::vector<LinePoint> path;
    path.push_back({(float)p[0], (float)p[1], (float)p[2], (float)(route[first].speed * pace), 0});
    double travelled = 0;
    for (size_t k = 0; k < n * laps; k++) {
        const RoutePoint &a = route[(first + k) % n];
        const RoutePoint &b = route[(first + k + 1) % n];
        double tx = b.x - a.x, tz = b.z - a.z, len = sqrt(tx * tx + tz * tz);
        if (len <= 0)
            continue;
        travelled += len;
        double speed = a.speed * pace;
        if (travelled < speed * 0.25)
            continue;
        travelled = 0;
        double x = b.x - tz / len * offset, z = b.z + tx / len * offset;
        float y = ground ? terrain_height(ground, (float)x, (float)z) + 1.6f : (float)p[1];
        path.push_back({(float)x, y, (float)z, (float)speed, 0});
    }
    return path;
}

static int lineup_codes[RACER_SLOTS];

// One pass of the seeding rider: a race of its own, three laps of the route (the
// last segment of a lap is offered when the gate after it is crossed).
static void seed_pass(const std::vector<RoutePoint> &route, int skill, double pace, double offset)
{
    for (int &c : lineup_codes)
        c = 0;
    lineup_codes[0] = LINEUP_LOCAL;
    if (!new_race(lineup_codes, false, false, 0, 1000, skill))
        return;
    RaceState &race = race_state();
    Racer *rider = race.racers[race.local_slot];
    std::vector<LinePoint> path = route_path(rider, route, 4, pace, offset);
    pilot_give_path(rider, path.data(), (int)path.size(), 1);
    int32_t limit = race.start_frame + (int32_t)(600 / PHYSICS_TICK);
    while (race.frame < limit && laps_for_gates(rider->gates.gates_passed) < 3) {
        pilot_drive_given_path(rider);
        game_step();
    }
    printf("seed skill=%s pace=%.2f offset=%.1f laps=%d crashes=%d seconds=%.1f\n",
           SKILL_WORDS[skill], pace, offset, laps_for_gates(rider->gates.gates_passed),
           rider->crash_count, (race.frame - race.start_frame) * PHYSICS_TICK);
}

// Segments still without a line; a computer rider would stop at the first.
static int empty_segments()
{
    int empty = 0;
    for (int s = 0; s < line_segment_count(); s++)
        empty += line_used_count(s) == 0;
    return empty;
}

// The passes of one skill: its own paces and lines across the track, then, while
// some segment has no line yet (a jump cased or overshot on every pass bottoms the
// bike out, and a line with an incident is not kept), passes over a wider range of
// paces until every segment has one.
static void seed_skill(const std::vector<RoutePoint> &route, int skill, int passes)
{
    static const double paces[3] = {0.78, 0.84, 0.90};
    static const double offsets[4] = {0, -1.5, 1.5, -3};
    for (int pass = 0; pass < passes; pass++)
        seed_pass(route, skill, paces[skill] * (1 + 0.04 * ((pass % 3) - 1)), offsets[pass % 4]);
    for (int extra = 0; extra < 16 && empty_segments() > 0; extra++)
        seed_pass(route, skill, 0.6 + 0.015 * extra, 0);
}

// A line computer riders crashed on or left more often than they completed it, in
// a segment that keeps at least three lines they did better on, is dropped.
static bool crashy(const LineSlot *l)
{
    return !l->points.empty() && l->canceled >= 2 && l->canceled > l->tested;
}

static int cull_lines()
{
    int dropped = 0;
    for (int s = 0; s < line_segment_count(); s++) {
        int good = 0;
        for (int i = 0; i < LINE_SLOTS; i++) {
            const LineSlot *l = line_slot(s, i);
            good += !l->points.empty() && !crashy(l);
        }
        if (good < 3)
            continue;
        for (int i = 0; i < LINE_SLOTS; i++) {
            LineSlot *l = line_slot(s, i);
            if (crashy(l)) {
                l->points.clear();
                dropped++;
            }
        }
    }
    return dropped;
}

// A race of computer riders on the lines learnt so far, learning as they go.
// Explorers ride the "tester" personality, which prefers the lines tried least, so
// that every line gets tried before the riders' own choices settle on a few.
static void seed_race(int skill, int riders, bool explore)
{
    for (int &c : lineup_codes)
        c = 0;
    for (int i = 0; i < riders && i < RACER_SLOTS; i++)
        lineup_codes[i] = LINEUP_AUTO_PILOT;
    if (!new_race(lineup_codes, false, false, 0, 2, skill))
        return;
    RaceState &race = race_state();
    for (int i = 0; explore && i < riders; i++)
        if (race.racers[i])
            set_personality(race.racers[i], "tester");
    int32_t limit = race.start_frame + (int32_t)(480 / PHYSICS_TICK);
    int crashes[RACER_SLOTS] = {}, was_crashed[RACER_SLOTS] = {};
    while (race.frame < limit && !race.results_final) {
        game_step();
        for (int s = 0; s < riders; s++) {
            Racer *r = race.racers[s];
            bool crashed = r && r->crash_countdown > 0;
            if (crashed && !was_crashed[s])
                crashes[s]++;
            was_crashed[s] = crashed;
        }
    }
    int total_crashes = 0;
    std::string laps;
    for (int s = 0; s < riders; s++) {
        Racer *r = race.racers[s];
        laps += (s ? "," : "") + std::to_string(r ? laps_for_gates(r->gates.gates_passed) : 0);
        total_crashes += crashes[s];
    }
    printf("race skill=%s laps=%s crashes=%d finished=%d seconds=%.1f\n", SKILL_WORDS[skill],
           laps.c_str(), total_crashes, race.results_final ? 1 : 0,
           (race.frame - race.start_frame) * PHYSICS_TICK);
}

int run_seed(char **args)
{
    const char *track = nullptr, *out = nullptr;
    int passes = 6, races = 2, riders = 8;
    for (int i = 0; args[i]; i++) {
        const char *a = args[i], *next = args[i + 1];
        if (a[0] != '-' && !track) {
            track = a;
            continue;
        }
        if (strcmp(a, "--debug") == 0) {
            startup_options_edit().debug = 1;       // the line learning's log lines
            continue;
        }
        int *value = strcmp(a, "--passes") == 0 ? &passes
                     : strcmp(a, "--races") == 0 ? &races
                     : strcmp(a, "--riders") == 0 ? &riders
                                                   : nullptr;
        if (strcmp(a, "--out") == 0 && next) {
            out = next;
            i++;
        } else if (value && next && atoi(next) >= 0 && atoi(next) <= 100) {
            *value = atoi(next);
            i++;
        } else {
            fputs("usage: ruttmoor-sim seed TRACKDIR [--passes N] [--races N] [--riders N] "
                  "[--out DIR]\n",
                  stderr);
            return EXIT_USAGE;
        }
    }
    if (!track) {
        fputs("usage: ruttmoor-sim seed TRACKDIR [--passes N] [--races N] [--riders N] "
              "[--out DIR]\n",
              stderr);
        return EXIT_USAGE;
    }
    if (!load_track_for_command(track))
        return EXIT_FAILED;
    std::vector<RoutePoint> route;
    if (!read_route(track, &route)) {
        fprintf(stderr, "Can't read the route of '%.900s'\n", track);
        free_track();
        return EXIT_FAILED;
    }
    settings_edit().track = intern_string(track);
    race_set_track_loaded(true);
    startup_options_edit().learn = true;
    RaceHooks hooks{};
    install_auto_pilot(&hooks);
    race_set_hooks(&hooks);
    create_physics_world();
    race_clear_slots();

    // Start from nothing: empty line files in the home directory hide both what an
    // earlier run left there and the lines packed with the game data.
    const TimingTables &timing = timing_tables();
    int segments = timing.first_lap_lines + timing.normal_lap_lines;
    for (const char *word : SKILL_WORDS) {
        std::string name = std::string("@") + track + "/lines_" + word;
        DataFile *f = data_open(name.c_str(), "wb");
        if (!f) {
            fprintf(stderr, "Can't write %s\n", name.c_str());
            free_track();
            return EXIT_FAILED;
        }
        data_printf(f, "ct03 %d\n", segments);
        for (int k = 0; k < segments; k++)
            data_puts(f, "0\n");
        data_close(f);
    }
    // Races give the lines their statistics, first with explorers, then with the
    // riders' own personalities; lines the computer riders keep crashing on are
    // dropped after every round of races.
    for (int skill = 0; skill < 3; skill++) {
        seed_skill(route, skill, passes);
        for (int round = 0; round < 2; round++) {
            for (int r = 0; r < races; r++)
                seed_race(skill, riders, round == 0);
            printf("cull skill=%s dropped=%d\n", SKILL_WORDS[skill], cull_lines());
        }
    }
    save_lines();       // the last skill's; the others were saved by each new race

    int status = EXIT_DONE;
    if (out) {
        std::error_code ec;
        std::filesystem::create_directories(out, ec);
        for (const char *word : SKILL_WORDS) {
            std::string from = std::string(home_dir()) + track + "/lines_" + word;
            std::string to = std::string(out) + "/lines_" + word;
            std::filesystem::copy_file(from, to,
                                       std::filesystem::copy_options::overwrite_existing, ec);
            if (ec) {
                fprintf(stderr, "Can't copy %s to %s\n", from.c_str(), to.c_str());
                status = EXIT_FAILED;
            }
        }
    }
    free_racers();
    free_lines();
    destroy_physics_world();
    free_track();
    race_set_track_loaded(false);
    return status;
}
