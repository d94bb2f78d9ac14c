// The race: the one RaceState record, setting up a race and the game step.
#pragma once

#include <cstdint>

struct Racer;

enum {
    RACER_SLOTS = 160,
    NO_SLOT = 160,
};

enum ControlKind {
    LocalRider = 0,     // inputs from this machine
    Replayed = 1,       // pose taken from the replay history
    AutoPilot = 2,      // inputs from the auto pilot
};

struct OrderEntry {
    int32_t slot;
    int32_t gates_passed;
    int32_t time;
};

struct RaceState {
    int32_t frame;
    int32_t start_frame;
    int32_t duration;
    int32_t configured_laps;
    int32_t halfway_lap;
    int32_t total_laps;
    Racer *racers[RACER_SLOTS];
    ControlKind kind[RACER_SLOTS];
    OrderEntry order[RACER_SLOTS];
    int order_count;
    bool time_trial;
    int32_t local_slot;     // the slot driven here, also the one the camera follows
};

RaceState &race_state();
// True while a track is loaded (a race can run).
bool race_track_loaded();
void race_set_track_loaded(bool loaded);
// Marks every slot empty and Replayed.
void race_clear_slots();

// Sets up a race. lineup holds RACER_SLOTS codes, or is null for a time trial.
void new_race(const int *lineup, bool play_demo, bool record_demo, int duration_frames,
              int laps, int skill);
// Advances the race by one tick.
void game_step();
// Frees every racer (shutdown).
void free_racers();
