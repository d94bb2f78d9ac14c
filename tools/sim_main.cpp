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
//
// Exit status: 0 done, 1 the data or the track could not be loaded (or written),
// 2 bad usage. Other checks read these outputs: keep them stable.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/common.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "data_digests.h"
#include "platform/vrak.h"
#include "sim/catalogue.h"
#include "sim/racer_body.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

enum {
    EXIT_DONE = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
};

static const char USAGE[] = "usage: ruttmoor-sim trackinfo TRACKDIR\n"
                            "       ruttmoor-sim terrain TRACKDIR X Z\n"
                            "       ruttmoor-sim bike NAME\n";

struct Command {
    const char *name;
    int arguments;          // after the command word
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

// The data check and the track load every command needs. False after the reason
// has been printed.
static bool load_track_for_command(const char *directory)
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

static const Command commands[] = {
    {"bike", 1, run_bike},
    {"trackinfo", 1, run_trackinfo},
    {"terrain", 3, run_terrain},
};

int main(int argc, char **argv)
{
    const Command *command = nullptr;
    for (const Command &c : commands) {
        if (argc >= 2 && strcmp(argv[1], c.name) == 0 && argc == 2 + c.arguments)
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
