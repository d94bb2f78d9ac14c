// Lines learnt from riders' laps: every rider that is not an auto pilot has its
// path recorded, cut at the lap's gates into segments and offered as a candidate
// line for each segment; auto pilots' runs on the lines keep statistics of how well
// they went. Kept per track and skill in "lines_novice", "lines_amateur" and
// "lines_expert" in the track directory.
#pragma once

#include <cstdint>
#include <vector>

struct GateHooks;
struct GateProgress;
struct Racer;

enum { LINE_SLOTS = 45, NEVER_PICKED = -1000000 };

struct LinePoint {
    float x, y, z;
    float speed;        // negative: recorded with neither wheel on the ground
    float roll;
};

struct LineSlot {
    std::vector<LinePoint> points;      // empty = slot unused
    int32_t time_a, time_b;             // recording rider's time over 1 and 2 segments
    int32_t tested;
    int32_t best_a, best_b;
    int64_t sum_a, sum_b;
    int32_t canceled;
    int32_t last_picked;                // frame, NEVER_PICKED
    int32_t id;
};

// Segment tables, sized when a track's timing is accepted (F' + N' segments).
int line_segment_count();
// Maps any segment index onto the lap (s >= F' wraps over the normal lap); -1 for a
// negative index or when there are no tables.
int lap_segment(int segment);
// Slot i (0..44) of a segment (any segment index; it is mapped onto the lap), or null
// when out of range.
LineSlot *line_slot(int segment, int i);
// Used slots of a segment.
int line_used_count(int segment);
// Empty tables for F' + N' segments (the timing_loaded hook); zeros free them.
void lines_make_tables(int first_lap_lines, int normal_lap_lines);

// The gate hooks of line learning (record, offer, credit, cancel, finish).
const GateHooks *line_gate_hooks();
// Race set-up: empties every slot, reads "@<track>/lines_<skill word>" (skill 0..2:
// novice, amateur, expert; packed files are found too), prunes and marks every line
// as never picked. The routes (build_routes) are the caller's next step. False when
// no file for this lap layout was read (the slots are then empty).
bool load_lines(const char *track, int skill);
// Writes the lines in memory to the file they were loaded from, only with "--learn";
// replaces the file in the home directory through "<name>.part".
void save_lines();
// Thins out first-lap segments with more than 43 lines, crossing lines first.
void prune_lines();
void clear_lines();
void free_lines();
// The slot to give up in a full segment, -1 when the segment has no lines.
int pick_victim(int segment);
// Gate-crossing bookkeeping, also reached through line_gate_hooks(): an auto pilot's
// statistics for the line it rode (g: the race gate just crossed), the line it was
// riding canceled, and the recording of another rider offered as a line.
void credit_line(GateProgress *racer, int g);
void cancel_line(GateProgress *racer);
void offer_line(GateProgress *racer, int g);
// Every line's last-picked frame back to never (race set-up).
void reset_last_picked();

// The ring of line ids an auto pilot used on its last four segments. slot: the
// racer slot; segment: the race's segment index (not mapped onto the lap), kept by
// its value mod 4.
void ring_set(int slot, int segment, int32_t id);
int32_t ring_get(int slot, int segment);
void ring_clear(int slot);
// Resets a racer's recording state (new race, time-trial start).
void reset_line_recording(int slot);
