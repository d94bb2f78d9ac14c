// ruttmoor-sim: the game's own simulation code without a window, for tests,
// benchmarks and data making. It finds the game data exactly as the game does (the
// same base directories, environment and game-data check). Results go to standard
// output. The log goes to "ruttmoor-sim.log" in the home directory, so the game's
// own "lastlog.txt" is left alone; when a track fails to load, what the loader
// logged meanwhile is repeated on standard error.
//
//   ruttmoor-sim trackinfo TRACKDIR   writes TRACKDIR.trackinfo into the home
//                                     directory and prints the same lines
//   ruttmoor-sim terrain TRACKDIR X Z prints "height=%f tile=%d normal=%f,%f,%f"
//   ruttmoor-sim bike NAME            prints the catalogue entry NAME resolves to
//                                     (unknown names fall back as in a race, with
//                                     the message on standard error), the mass and
//                                     inertia diagonal of each body and the total
//   ruttmoor-sim ride (TRACKDIR | --flat [--friction MU]) [--bike NAME]
//                [--set KEY=VALUE]... [--script FILE] [--seconds S]
//                [--start X,Z,HEADING[,HEIGHT]]
//                                     one local rider on the track (or on endless
//                                     flat ground of friction MU, default 1) with the setup
//                                     keys given, optionally let go HEIGHT ft above
//                                     the ground; prints a CSV header and a row
//                                     every 1/8 s (see run_ride)
//   ruttmoor-sim bench [--riders N] [--seconds S] [--track TRACKDIR]
//                                     N scripted riders on the default track for S
//                                     simulated seconds; prints timing figures as
//                                     key=value lines (see sim_bench.cpp)
//   ruttmoor-sim race --track TRACKDIR [--lineup CODES] [--laps N] [--minutes M]
//                [--record] [--play FILE] [--time-trial] [--script FILE] [--seconds S]
//                                     a whole race as the game runs it; prints the
//                                     running order every 10 s and the results
//                                     (see sim_race.cpp)
//
// Exit status: 0 done, 1 the data or the track could not be loaded (or written),
// 2 bad usage. Other checks read these outputs: keep them stable.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "data_digests.h"
#include "platform/vrak.h"
#include "sim/assists.h"
#include "sim/catalogue.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "sim/world_tick.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"
#include "tools/sim_tool.h"

static const char USAGE[] = "usage: ruttmoor-sim trackinfo TRACKDIR\n"
                            "       ruttmoor-sim terrain TRACKDIR X Z\n"
                            "       ruttmoor-sim bike NAME\n"
                            "       ruttmoor-sim ride (TRACKDIR | --flat) [--bike NAME] "
                            "[--set KEY=VALUE]...\n"
                            "                         [--script FILE] [--seconds S] "
                            "[--start X,Z,HEADING[,HEIGHT]] [--friction MU]\n"
                            "       ruttmoor-sim bench [--riders N] [--seconds S] "
                            "[--track TRACKDIR]\n"
                            "       ruttmoor-sim race --track TRACKDIR [options] "
                            "(see ruttmoor-sim race --help)\n"
                            "       ruttmoor-sim seed TRACKDIR [--passes N] [--races N] "
                            "[--riders N] [--out DIR]\n";

struct Command {
    const char *name;
    int arguments;          // after the command word; -1: one or more, -2: any number
    int (*run)(char **args);
};

static bool parse_coordinate(const char *text, float *value)
{
    char *end;
    *value = strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

static std::string log_path;

// The tool's log sits beside the game's in the home directory; the game-data
// check opens it.
static void open_log()
{
    data_set_log_name("ruttmoor-sim.log");
    const char *home = home_dir();
    if (home)
        log_path = std::string(home) + "ruttmoor-sim.log";
}

static long log_size()
{
    std::error_code ec;
    auto size = std::filesystem::file_size(log_path, ec);
    return ec ? 0 : (long)size;
}

// Copies the log lines written since offset to standard error, without their time
// stamps ("[h:mm:ss.cc] ").
static void repeat_log_since(long offset)
{
    FILE *in = fopen(log_path.c_str(), "rb");
    if (!in)
        return;
    char line[2048];
    if (fseek(in, offset, SEEK_SET) == 0) {
        while (fgets(line, sizeof line, in)) {
            const char *text = line;
            if (text[0] == '[') {
                const char *close = strstr(text, "] ");
                if (close)
                    text = close + 2;
            }
            fputs(text, stderr);
        }
    }
    fclose(in);
}

bool load_track_for_command(const char *directory)
{
    if (!data_check_game_data(GAME_DATA_DIGEST)) {
        fprintf(stderr, "Can't find game data\n");
        return false;
    }
    data_check_fixed_files(FIXED_FILE_DIGEST);
    discover_tracks_and_demos();    // for the track's long name; none is no error here
    long offset = log_size();
    if (!load_track(directory)) {
        repeat_log_since(offset);
        fprintf(stderr, "Can't load track '%.900s'\n", directory);
        return false;
    }
    return true;
}

static int run_trackinfo(char **args)
{
    if (!load_track_for_command(args[0]))
        return EXIT_FAILED;
    std::string text;
    format_track_info(&text);
    fputs(text.c_str(), stdout);
    bool saved = save_track_info();
    free_track();
    return saved ? EXIT_DONE : EXIT_FAILED;
}

static int run_terrain(char **args)
{
    float x, z;
    if (!parse_coordinate(args[1], &x) || !parse_coordinate(args[2], &z)) {
        fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    if (!load_track_for_command(args[0]))
        return EXIT_FAILED;
    const Terrain *t = track_terrain();
    float normal[3];
    terrain_face_normal(t, x, z, normal);
    float length = sqrtf(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (length > 0) {
        for (float &c : normal)
            c /= length;
    }
    printf("height=%f tile=%d normal=%f,%f,%f\n", terrain_height(t, x, z), tile_at(t, x, z),
           normal[0], normal[1], normal[2]);
    free_track();
    return EXIT_DONE;
}

static const char *const body_names[RACER_BODY_COUNT] = {
    "frame", "front_wheel", "rear_wheel", "fork_upper", "fork_lower", "swingarm", "rider",
};

// Output, one "key=value" line each:
//   name=  class=  sprockets=FRONT/REAR  gears=R1,R2,... (the gears the bike has)
//   torque_peak=FT_LBF@RPM  rev_limit=RPM
//   body=NAME mass=SLUG inertia=IXX,IYY,IZZ   (seven lines, body coordinates)
//   total_mass=SLUG
static int run_bike(char **args)
{
    if (!data_check_game_data(GAME_DATA_DIGEST)) {
        fprintf(stderr, "Can't find game data\n");
        return EXIT_FAILED;
    }
    if (!create_physics_world()) {
        fprintf(stderr, "Can't start the physics world\n");
        return EXIT_FAILED;
    }
    long offset = log_size();
    Racer *racer = create_racer(args[0], 0, "", nullptr, nullptr, nullptr, nullptr);
    if (!find_bike_model(args[0]))
        repeat_log_since(offset);
    const BikeModel &m = racer->model;
    printf("name=%s\nclass=%s\nsprockets=%d/%d\ngears=", m.name, m.engine_class,
           m.front_sprocket, m.rear_sprocket);
    for (int g = 0; g < GEAR_COUNT && m.gear_ratios[g] > 0; g++)
        printf(g ? ",%g" : "%g", m.gear_ratios[g]);
    double peak_rpm = 0;
    double peak = torque_peak(&m, &peak_rpm);
    printf("\ntorque_peak=%g@%g\nrev_limit=%g\n", peak, peak_rpm, torque_rev_limit_rpm(&m));
    for (int i = 0; i < RACER_BODY_COUNT; i++) {
        dMass mass;
        dBodyGetMass(racer->bodies[i], &mass);
        printf("body=%s mass=%.6f inertia=%.6f,%.6f,%.6f\n", body_names[i], mass.mass,
               mass.I[0], mass.I[5], mass.I[10]);
    }
    printf("total_mass=%.6f\n", total_mass(racer));
    destroy_racer(racer);
    destroy_physics_world();
    return EXIT_DONE;
}

// ---------------------------------------------------------------------------
// ride: one local rider, driven by a control script.

// One line of a control script; the inputs hold from t until the next line.
// Control script, a text file of lines
//   t throttle front_brake rear_brake steer clutch_lever dab back_up lean shift
// separated by blanks: t in seconds (finite, >= 0, not less than the line before),
// the eight inputs as numbers (clamped where they are applied; clutch_lever 0 is
// the lever released, 1 pulled in), shift an integer -1, 0 or +1 (a change of it
// requests a shift). Blank lines and lines starting with '#' are skipped. Before
// the first line every input is 0. A line over 500 characters is an error.
bool read_control_script(const char *path, std::vector<ControlLine> *out)
{
    FILE *in = fopen(path, "rb");
    if (!in) {
        fprintf(stderr, "Can't open control script '%.900s'\n", path);
        return false;
    }
    char line[512];
    int number = 0;
    bool ok = true;
    while (ok && fgets(line, sizeof line, in)) {
        number++;
        size_t length = strlen(line);
        if (length == sizeof line - 1 && line[length - 1] != '\n' && !feof(in)) {
            ok = false;
            break;
        }
        const char *p = line;
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p == '#' || *p == '\n' || *p == '\r' || *p == '\0')
            continue;
        double v[10];
        for (int i = 0; i < 10 && ok; i++) {
            char *end;
            v[i] = strtod(p, &end);
            if (end == p || !std::isfinite(v[i]))
                ok = false;
            p = end;
        }
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
            p++;
        if (!ok || *p != '\0' || v[0] < 0 || (!out->empty() && v[0] < out->back().t) ||
            (v[9] != -1 && v[9] != 0 && v[9] != 1)) {
            ok = false;
            break;
        }
        ControlLine c = {v[0], (float)v[1], (float)v[2], (float)v[3], (float)v[4],
                         (float)v[5], (float)v[6], (float)v[7], (float)v[8], (int)v[9]};
        out->push_back(c);
    }
    if (!ok)
        fprintf(stderr, "Bad control line %d in '%.900s'\n", number, path);
    fclose(in);
    return ok;
}

static bool same_text_any_case(const char *a, const char *b)
{
    for (; *a && *b; a++, b++) {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
    }
    return *a == *b;
}

// KEY=VALUE onto the rider's setup: numbers are clamped to their range, choices
// match one of their texts (any case), text is cut to its length.
bool set_setup_value(const char *assignment)
{
    const char *equals = strchr(assignment, '=');
    if (!equals) {
        fprintf(stderr, "Expected KEY=VALUE, got '%.200s'\n", assignment);
        return false;
    }
    std::string key(assignment, equals - assignment);
    const char *value = equals + 1;
    SetupKey k;
    if (!find_bike_setup_key(key.c_str(), &k)) {
        fprintf(stderr, "Unknown setup key '%.200s'\n", key.c_str());
        return false;
    }
    if (k.kind == SETUP_KEY_NUMBER) {
        char *end;
        double v = strtod(value, &end);
        if (end == value || *end != '\0' || !std::isfinite(v)) {
            fprintf(stderr, "Bad number '%.200s' for %s\n", value, k.key);
            return false;
        }
        k.number->value = std::min(std::max(v, k.number->minimum), k.number->maximum);
        if (key == "stability")
            apply_stability_preset(k.number->value);
        return true;
    }
    if (k.kind == SETUP_KEY_CHOICE) {
        for (size_t i = 0; i < k.choice->choices.size(); i++) {
            if (same_text_any_case(k.choice->choices[i].c_str(), value)) {
                k.choice->selected = (int)i;
                return true;
            }
        }
        fprintf(stderr, "Bad choice '%.200s' for %s\n", value, k.key);
        return false;
    }
    k.text->text.assign(value, strnlen(value, k.text->max_length));
    return true;
}

// Endless flat ground at height 0: one small field whose border heights continue
// outside it, one tile type of the given friction at every slip speed.
static void make_flat_terrain(Terrain *t, float friction)
{
    t->size_log2 = 1;
    t->grid_size = 5;
    t->cell = 64;
    t->extent = 256;
    t->heights.assign(25, 0.0f);
    t->tile_map_size = 2;
    t->tile_map.assign(4, 0);
    t->tile_count = 1;
    t->tiles.assign(1, TileType{});
    t->tiles[0].friction[0] = {friction, 1};
    t->tiles[0].friction_count = 1;
    t->tiles[0].texture = "";
}

void place_racer(Racer *racer, const Terrain *t, double x, double z, double heading)
{
    const BikeVec3 &fp = racer->model.frame_position;
    dMatrix3 turn;
    dRFromAxisAndAngle(turn, 0, 1, 0, heading);
    for (dBodyID b : racer->bodies) {
        const dReal *p = dBodyGetPosition(b);
        dVector3 rel = {p[0] - fp.x, p[1] - fp.y, p[2] - fp.z, 0}, moved;
        dMultiply0_331(moved, turn, rel);
        dBodySetPosition(b, x + moved[0], fp.y + moved[1], z + moved[2]);
        dMatrix3 r;
        dMultiply0_333(r, turn, dBodyGetRotation(b));
        dBodySetRotation(b, r);
    }
    // The higher of the two patches of ground under the wheels carries the bike.
    double ground = -1e30;
    for (int w : {BODY_FRONT_WHEEL, BODY_REAR_WHEEL}) {
        const dReal *p = dBodyGetPosition(racer->bodies[w]);
        ground = std::max(ground, (double)terrain_height(t, (float)p[0], (float)p[2]));
    }
    move_racer(racer, 0, ground, 0);
}

// The clutch lever as the main loop turns it into engagement: let out at no more
// than 4 per second, pulled in at once.
float clutch_from_lever(float current, float lever)
{
    float target = std::min(std::max(1 - lever * 8.0f / 7.0f, 0.0f), 1.0f);
    if (target > current)
        return std::min(target, current + 4 * (float)PHYSICS_TICK);
    return target;
}

// "X,Z,HEADING" or "X,Z,HEADING,HEIGHT": three or four finite numbers of at most
// 1e6 in size, separated by single commas. The height (ft, default 0) lifts the
// bike above its place on the ground so that drops can be scripted; below the
// ground it would start buried, so a negative height is refused.
static bool parse_start(const char *text, double out[4])
{
    out[3] = 0;
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        char *end;
        out[i] = strtod(p, &end);
        if (end == p || !std::isfinite(out[i]) || fabs(out[i]) > 1e6)
            return false;
        if (*end == '\0')
            return i >= 2 && out[3] >= 0;
        if (*end != ',' || i == 3)
            return false;
        p = end + 1;
    }
    return false;
}

struct RideOptions {
    const char *track = nullptr;
    bool flat = false;
    const char *bike = "crf450(2013)";
    const char *script = nullptr;
    double seconds = 10;
    double friction = 1;            // of the flat ground
    bool has_start = false;
    double start[4] = {0, 0, 0, 0}; // x, z, heading in degrees, height above ground in ft
};

// False after the usage or the reason has been printed.
static bool parse_ride_options(char **args, RideOptions *o)
{
    for (int i = 0; args[i]; i++) {
        const char *a = args[i];
        const char *next = args[i + 1];
        if (strcmp(a, "--flat") == 0) {
            o->flat = true;
        } else if (strcmp(a, "--bike") == 0 && next) {
            o->bike = next;
            i++;
        } else if (strcmp(a, "--set") == 0 && next) {
            if (!set_setup_value(next))
                return false;
            i++;
        } else if (strcmp(a, "--friction") == 0 && next) {
            char *end;
            o->friction = strtod(next, &end);
            if (end == next || *end || !(o->friction >= 0 && o->friction <= 10)) {
                fprintf(stderr, "Bad friction '%.200s'\n", next);
                return false;
            }
            i++;
        } else if (strcmp(a, "--script") == 0 && next) {
            o->script = next;
            i++;
        } else if (strcmp(a, "--seconds") == 0 && next) {
            char *end;
            o->seconds = strtod(next, &end);
            if (end == next || *end || !(o->seconds > 0 && o->seconds <= 86400)) {
                fprintf(stderr, "Bad number of seconds '%.200s'\n", next);
                return false;
            }
            i++;
        } else if (strcmp(a, "--start") == 0 && next) {
            if (!parse_start(next, o->start)) {
                fprintf(stderr, "Expected --start X,Z,HEADING[,HEIGHT], got '%.200s'\n",
                        next);
                return false;
            }
            o->has_start = true;
            i++;
        } else if (a[0] != '-' && !o->track) {
            o->track = a;
        } else {
            fputs(USAGE, stderr);
            return false;
        }
    }
    if (o->flat == (o->track != nullptr)) {
        fputs(USAGE, stderr);
        return false;
    }
    return true;
}

// Output: the header line
//   t,x,y,z,speed_mph,rpm,gear,roll_deg,pitch_deg,steer_deg,crashed,front_contact,rear_contact
// then a row at t = 0 and every 1/8 s: time (s), frame position (ft), forward speed
// (mph), engine rpm, gear (1 = first), roll (positive leaning to the right), pitch
// (positive nose up) and steering angle (degrees), and 0/1 for crashed and for
// each wheel touching the ground. Exit status 1 when the simulation stops being
// finite.
static int run_ride(char **args)
{
    bike_setup_reset();
    RideOptions o;
    if (!parse_ride_options(args, &o))
        return EXIT_USAGE;
    std::vector<ControlLine> script;
    if (o.script && !read_control_script(o.script, &script))
        return EXIT_FAILED;

    Terrain flat = {};
    const Terrain *terrain = &flat;
    if (o.flat) {
        make_flat_terrain(&flat, (float)o.friction);
        if (!data_check_game_data(GAME_DATA_DIGEST)) {
            fprintf(stderr, "Can't find game data\n");
            return EXIT_FAILED;
        }
    } else {
        if (!load_track_for_command(o.track))
            return EXIT_FAILED;
        terrain = track_terrain();
    }
    if (!create_physics_world()) {
        fprintf(stderr, "Can't start the physics world\n");
        return EXIT_FAILED;
    }
    long offset = log_size();
    Racer *racer = create_racer(o.bike, 0, "1", nullptr, nullptr, nullptr, nullptr);
    if (!racer) {
        fprintf(stderr, "Can't create the racer\n");
        return EXIT_FAILED;
    }
    if (!find_bike_model(o.bike))
        repeat_log_since(offset);
    apply_setup(racer, true);
    if (!o.has_start) {
        o.start[0] = terrain->extent / 2;
        o.start[1] = terrain->extent / 2;
    }
    place_racer(racer, terrain, o.start[0], o.start[1], o.start[2] * M_PI / 180);
    move_racer(racer, 0, o.start[3], 0);

    puts("t,x,y,z,speed_mph,rpm,gear,roll_deg,pitch_deg,steer_deg,crashed,front_contact,"
         "rear_contact");
    StepContext ctx = {};
    ctx.terrain = o.flat ? &flat : nullptr;
    int ticks = (int)ceil(o.seconds * 128 - 1e-9);
    size_t next = 0;
    ControlLine in = {};
    int status = EXIT_DONE;
    for (int tick = 0;; tick++) {
        if (tick % 16 == 0) {
            dBodyID frame = racer->bodies[BODY_FRAME];
            const dReal *p = dBodyGetPosition(frame);
            dVector3 forward;
            dBodyVectorToWorld(frame, 0, 0, -1, forward);
            double pitch = asin(std::min(std::max((double)forward[1], -1.0), 1.0));
            double roll = -roll_angle(frame);
            if (!std::isfinite(p[0] + p[1] + p[2] + racer->engine_speed)) {
                fprintf(stderr, "The simulation stopped being finite at t=%.3f\n",
                        tick * PHYSICS_TICK);
                status = EXIT_FAILED;
                break;
            }
            printf("%.3f,%.3f,%.3f,%.3f,%.2f,%.0f,%d,%.2f,%.2f,%.2f,%d,%d,%d\n",
                   tick * PHYSICS_TICK, p[0], p[1], p[2], racer_speed_mph(racer),
                   racer_engine_rpm(racer), racer_gear(racer) + 1, roll * 180 / M_PI,
                   pitch * 180 / M_PI, steering_angle(racer) * 180 / M_PI,
                   racer->crash_countdown > 0, racer->wheel_contacts[0].depth > 0,
                   racer->wheel_contacts[1].depth > 0);
        }
        if (tick >= ticks)
            break;
        double now = tick * PHYSICS_TICK;
        while (next < script.size() && script[next].t <= now + 1e-9)
            in = script[next++];
        float clutch = clutch_from_lever(racer->clutch, in.clutch_lever);
        apply_controls(racer, in.steer, in.front_brake, in.rear_brake, in.throttle, in.dab,
                       in.back_up, in.lean, clutch, in.shift);
        ctx.tick = tick + 1;
        world_tick(&racer, 1, &ctx);
    }
    destroy_racer(racer);
    destroy_physics_world();
    if (!o.flat)
        free_track();
    return status;
}

static const Command commands[] = {
    {"bike", 1, run_bike},
    {"trackinfo", 1, run_trackinfo},
    {"terrain", 3, run_terrain},
    {"ride", -1, run_ride},
    {"bench", -2, run_bench},
    {"race", -2, run_race},
    {"seed", -1, run_seed},
};

int main(int argc, char **argv)
{
    const Command *command = nullptr;
    for (const Command &c : commands) {
        if (argc >= 2 && strcmp(argv[1], c.name) == 0 &&
            (c.arguments == -2 || (c.arguments < 0 ? argc >= 3 : argc == 2 + c.arguments)))
            command = &c;
    }
    if (!command) {
        fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    install_new_handler();
    open_log();
    int status = command->run(argv + 2);
    fflush(stdout);
    vrak_log(nullptr);
    return status;
}
