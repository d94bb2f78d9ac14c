// What the auto pilot's files share: the per-slot driving state, the personality
// table and small vector helpers. Not for use outside autopilot/.
#pragma once

#include <cstdint>
#include <vector>

#include "autopilot/lines.h"

struct Racer;

enum { PILOT_SLOTS = 160 };

struct PilotState {
    const Racer *racer;         // whose state this is; another racer starts afresh
    int32_t last_frame;         // frame of the last step; a smaller one is a new race
    std::vector<LinePoint> path;
    int cursor;                 // index of the point being driven to
    int32_t advance_frame;      // frame of the last cursor advance
    int recovery;               // > 0: recovering; each cursor advance lowers it
    int next_segment;           // race segment the next plan is for
    // The start at the gate.
    bool blip_on;
    int32_t blip_until;         // frame the present blip phase ends; 0 = not begun
    float idle_until;           // frame-clock seconds; 0 = not drawn yet
    float go_time;              // frame-clock seconds of the go; 0 = not scheduled
    float pilot_throttle;       // throttle commanded last
    int32_t grip_limit_frame;   // frame the grip rule last limited the lean
    int32_t marshal_frame;      // frame the racer was last put back on its path
};

struct Personality {
    const char *name;
    int skill_close, skill_leading;
    float lead_threshold;       // s
    float reaction_min, reaction_max;   // s
};

extern const Personality pilot_personalities[5];

// The state of a racer's slot; null for a racer without one.
PilotState *pilot_state(const Racer *racer);

// Path point i with the index clamped into the path (the path must not be empty).
inline const LinePoint &path_point(const PilotState &st, int i)
{
    int n = (int)st.path.size();
    return st.path[i < 0 ? 0 : i >= n ? n - 1 : i];
}

// Skill the racer plans with now (its lead over the second racer decides).
int pilot_plan_skill(const Racer *racer);
// Planning (pilot_plan.cpp): picks the next segment's line and appends it.
void plan_next_segment(Racer *racer, PilotState *st, int32_t frame);
// Driving (pilot_drive.cpp).
void drive_path(Racer *racer, PilotState *st);
void recover(Racer *racer, PilotState *st);
// A racer lost off the course (pilot_marshal.cpp): true when it was put back on its
// path this frame.
bool marshal_lost_racer(Racer *racer, PilotState *st, int32_t frame);
