// What the commands of ruttmoor-sim share across its source files: the exit
// statuses, the track load with its messages, the setup keys, placing a racer and
// the clutch lever. sim_main.cpp owns these; sim_bench.cpp runs "bench".
#pragma once

#include <vector>

struct Racer;
struct Terrain;

enum {
    EXIT_DONE = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
};

// The data check and the track load every command needs. False after the reason
// has been printed.
bool load_track_for_command(const char *directory);
// KEY=VALUE onto the rider's setup. False after the reason has been printed.
bool set_setup_value(const char *assignment);
// Turns the racer (at its design pose) by heading (rad) about the vertical through
// the frame, then stands it at x, z on the ground.
void place_racer(Racer *racer, const Terrain *t, double x, double z, double heading);
// The clutch lever (0 released, 1 pulled in) as the main loop turns it into
// engagement from the current one.
float clutch_from_lever(float current, float lever);

// One line of a control script: the inputs that hold from time t on.
struct ControlLine {
    double t;               // s from the start, never less than the line before
    float throttle, front_brake, rear_brake, steer, clutch_lever, dab, back_up, lean;
    int shift;              // -1, 0, +1
};
// Reads a control script; false after the reason has been printed.
bool read_control_script(const char *path, std::vector<ControlLine> *out);

// A point of a track's "route", the racing line the track generator drew.
struct RoutePoint {
    double x, z, speed;     // ft, ft, ft/s
};
// Reads "@<track>/route"; false when it is missing or too short.
bool read_route(const char *track, std::vector<RoutePoint> *out);

// "bench" and its options; the exit status.
int run_bench(char **args);
// "race" and its options; the exit status.
int run_race(char **args);
// "seed": the learnt lines a track ships with.
int run_seed(char **args);
