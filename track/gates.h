// Timing gates and the lap layout: the starting gates the bikes line up on, the
// checkpoints a racer must cross, the order in which they make up the first lap and
// every further lap, and each racer's gate progress and gate times. Also the
// ".trackinfo" summary that game servers read.
#pragma once

#include <cstdint>
#include <string>

#include "core/common.h"

enum {
    MAX_STARTING_GATES = 160,
    MAX_TIMING_GATES = 256,
    MAX_LAP_ENTRIES = 256,          // per lap list (first lap, normal lap)
    TIMING_ONLY_FLAG = 100000,      // lap entry 100000 + i: checkpoint i, no line cut there
};

struct StartingGate {
    float x, y, z;          // where the front row stands
    float angle;            // radians in [-pi, pi]; bikes face (-sin a, -cos a)
    // The gate object; null means no file. Interned strings, never freed.
    const char *model;
    const char *texture;
    const char *shape;
    int statue;             // index of the gate object in the statue table
    float bar;              // gate bar value, 1 at race set-up
};

// A checkpoint: a horizontal circle with a crossing direction.
struct TimingGate {
    float x, y, z;
    float dx, dy, dz;       // the "through" side of the gate plane; dy is not used
    float radius;
    int32_t marker;         // set by the scene when this is some racer's next gate
};
static_assert(sizeof(TimingGate) == 32, "TimingGate is 32 bytes");

// The track-wide tables. checkpoint_count == 0 means the track has no timing.
struct TimingTables {
    StartingGate starting_gates[MAX_STARTING_GATES];
    int starting_gate_count;                    // G
    TimingGate checkpoints[MAX_TIMING_GATES];
    int checkpoint_count;
    // First-lap entries followed by normal-lap entries (checkpoint index, or
    // TIMING_ONLY_FLAG + index).
    int32_t lap_entries[2 * MAX_LAP_ENTRIES];
    int first_lap_count;                        // F
    int normal_lap_count;                       // N
    int first_lap_lines;                        // F': entries without the flag
    int normal_lap_lines;                       // N'
};

// Per racer (a field of the Racer record).
struct GateProgress {
    int32_t gates_passed = 0;       // race gate index of the next gate to pass
    GrowArray<int32_t> times;       // frame at which race gate g was crossed, -1 = missed
    bool finished = false;
    int32_t slot = 160;             // the racer's slot, for the hooks (160 = none)
    // The line-recording fields of the auto pilot's line learning join here.
};

// What later parts of the game do at gate crossings. Every member may be null.
struct GateHooks {
    // Every check (every frame, before the crossing test): line sampling and the
    // incident bookkeeping.
    void (*line_sample)(GateProgress *racer, int32_t frame);
    // After race gate g's time is stored, for every crossing (timing-only gates too:
    // the hook tells them apart with race_gate_timing_only).
    void (*line_crossing)(GateProgress *racer, int g, int32_t frame);
    // The racer has just finished: slow its recorded line down.
    void (*line_finished)(GateProgress *racer);
    // Resets the racer's line-recording state.
    void (*line_reset)(GateProgress *racer);
    // Called after every crossing.
    void (*update_running_order)();
    // Gates passed by the leader of the running order; 0 when there is none.
    int32_t (*leader_gates_passed)();
    // The lap layout was accepted: the line slots for F' + N' segments are made.
    void (*timing_loaded)(int first_lap_lines, int normal_lap_lines);
};

void gates_set_hooks(const GateHooks *hooks);

const TimingTables &timing_tables();
// For the scene's markers and the track editor.
TimingTables &timing_tables_edit();

// Reads "@" + directory + "/timing_gates" and creates the starting gate objects.
// A missing or malformed file leaves the track without starting gates or timing.
void load_timing_gates(const char *directory);
void free_timing_gates();
// Writes "@" + directory + "/timing_gates" into the home directory.
bool save_timing_gates(const char *directory);

// The lap entry of race gate g (flag included), or -1 when g < 0 or there is no timing.
int race_gate_entry(int g);
// The checkpoint of race gate g, or -1.
int race_gate_checkpoint(int g);
bool race_gate_timing_only(int g);
// Race gate at the end of lap k (k >= 1): F + N(k - 1) - 1. 64-bit: k may be huge.
int64_t lap_end_gate(int64_t k);
bool is_lap_end(int g);

// Once per frame per racer, after its simulation step.
void check_gates(GateProgress *racer, const float front_wheel[3], int32_t frame,
                 int32_t total_laps);
void set_gates_passed(GateProgress *racer, int n);
// Frame at which race gate g was passed; -1 when missed or out of range.
int32_t gate_time(const GateProgress *racer, int g);
void laps_completed(const GateProgress *racer, int *laps, int *gates_into_lap);
// Number of line segments before race gate g.
int segment_index(int g);

// The ".trackinfo" lines of the loaded track; false when no track is loaded.
bool format_track_info(std::string *text);
// Writes "@" + directory + ".trackinfo" and tells the player.
bool save_track_info();
