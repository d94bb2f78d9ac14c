// Replay history: the packed 39-byte rider state, the per-slot ring of the last 128
// states, blending a pose for any frame out of the ring, and putting a replayed
// racer into that pose.
#pragma once

#include <cstdint>

struct Racer;

enum {
    REPLAY_STATE_SIZE = 39,
    REPLAY_STATE_V4_SIZE = 26,
    HISTORY_LENGTH = 128,
    // Sampling carries a state forwards along its last motion for at most this long.
    HISTORY_EXTRAPOLATION_FRAMES = 64,
};

// Version 4 states use the first 26 bytes; the rest stays zero.
struct ReplayState {
    uint8_t bytes[REPLAY_STATE_SIZE];
};

// The state of a racer's bodies, joints and drive values. Positions are measured
// over the loaded terrain (its world size and base height), or over 1024 ft from 0
// when no track is loaded.
ReplayState encode_state(const Racer *racer);
// Blends a towards b by t (positions by the unlimited t, the rest by t <= 1).
// t = 0 or version 4 returns a unchanged.
ReplayState blend_states(const ReplayState &a, const ReplayState &b, double t, int version);
// Puts a Replayed racer into pose, with velocities from earlier to later over n frames.
// A racer whose activity is above 0.25 is pulled towards the pose by its own physics.
void apply_state(Racer *racer, const ReplayState &pose, const ReplayState &earlier,
                 const ReplayState &later, int n, int version);

// The history rings of the 160 slots.
void clear_history();
void clear_slot_history(int slot);
// A frame already in the ring is ignored; older frames are inserted in order.
void add_state_to_history(int slot, const ReplayState &state, int32_t frame);

// What sampling a ring gives for one frame.
struct HistorySample {
    ReplayState pose;
    ReplayState earlier, later;     // the bracket states
    int32_t earlier_frame, later_frame;
    int frames_between;             // handed to apply_state
};
// The pose of the slot for frame; false when the ring is empty.
bool sample_pose(int slot, int32_t frame, HistorySample *out);
// Poses the slot's racer for frame from its ring; nothing when the ring is empty.
void sample_history(int slot, int32_t frame);
// Frame of the slot's newest state, -1 when it has none.
int32_t history_newest_frame(int slot);
// The bracket frames sample_history would use for frame; false when the ring is empty.
bool history_bracket(int slot, int32_t frame, int32_t *earlier, int32_t *later);

// Demo writer access to the ring: entries added since the slot was last saved.
int history_unsaved(int slot);
// The i-th unsaved entry, oldest first (i < history_unsaved(slot)).
void history_unsaved_entry(int slot, int i, int32_t *frame, ReplayState *state);
void history_mark_saved(int slot);

// The state version sample_history hands to apply_state (the demo's while one is
// played, else 5).
void set_history_version(int version);
int history_version();
