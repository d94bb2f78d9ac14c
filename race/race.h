// The race: the one RaceState record, setting up a race (grid, personalities, time
// trial) and the fixed-rate game step that advances every bike on the track.
#pragma once

#include <cstdint>

struct Racer;

enum {
    RACER_SLOTS = 160,
    NO_SLOT = 160,
    NOT_KNOWN_LAPS = 1000000,       // halfway_lap / total_laps before they are known
};

enum ControlKind {
    LocalRider = 0,     // inputs from this machine
    Replayed = 1,       // pose taken from the replay history
    AutoPilot = 2,      // inputs from the auto pilot
};

// Lineup codes given to new_race, one per slot.
enum {
    LINEUP_DEMO_RIDER = 0,
    LINEUP_LOCAL = 1,
    LINEUP_AUTO_PILOT = 2,
    LINEUP_AUTO_125 = 3,
    LINEUP_AUTO_250 = 4,
    LINEUP_NETWORK = 5,
    LINEUP_NUMBER = 1000,           // 1000 + n: the auto pilot with bike number n
};

struct OrderEntry {
    int32_t slot;
    int32_t gates_passed;
    int32_t time;       // frame of the last gate passed (0 if none); + penalty in results
};

struct RaceState {
    int32_t frame;              // advanced by one at the end of every game step
    int32_t start_frame;        // the starting gate drops (race clock zero)
    int32_t five_seconds;       // 640 frames
    int32_t duration;           // frames; 0 = race by laps only
    int32_t configured_laps;
    int32_t halfway_lap;        // NOT_KNOWN_LAPS until known
    int32_t total_laps;         // NOT_KNOWN_LAPS in a timed race before the time runs out
    Racer *racers[RACER_SLOTS];
    ControlKind kind[RACER_SLOTS];
    OrderEntry order[RACER_SLOTS];
    int order_count;
    OrderEntry results[RACER_SLOTS];
    int results_count;
    bool results_final;
    bool time_trial;
    int32_t local_slot;         // the slot driven here, also the one the camera follows
    int32_t false_start_hold;   // frames the local rider is still held
    float start_position[3];    // the local rider's frame after placement
    int32_t best_lap, last_lap; // time-trial lap times in frames, 0 = none
    float gate_bar[RACER_SLOTS];    // per starting gate: 1 up, 0 down
    // Per slot, for the cutting penalty shown on the HUD and the series.
    int32_t penalty[RACER_SLOTS];       // frames added for cutting
    int32_t laps_taken[RACER_SLOTS];    // laps taken away for cutting
    int skill;                  // line file in use: 0 novice, 1 amateur, 2 expert
    bool network;               // a network race (the client sets it)
    float off_course_bias;      // s, 10 unless a server sets it
    float off_course_scale;     // 1.5 unless a server sets it
    // Network race with the local rider in warm-up (server slot 160): it neither keeps
    // the race open nor counts towards the field's segment times. The client sets it.
    bool network_warmup;
};

RaceState &race_state();
// True while a track is loaded (a race can run).
bool race_track_loaded();
void race_set_track_loaded(bool loaded);
// Marks every slot empty and Replayed.
void race_clear_slots();

// Sets up a race. lineup holds RACER_SLOTS codes, or is null for a time trial.
// False when the track fails to load.
bool new_race(const int *lineup, bool play_demo, bool record_demo, int duration_frames,
              int laps, int skill);
// Advances the race by one tick.
void game_step();
// Frees every racer (shutdown).
void free_racers();
// The time-trial start: only the rider in slot 0 stays, placed before the first-lap
// line.
void time_trial_start();

// Off course at race gate g: the racer took longer from the gates before g to the
// gates after it than scale x the leading racer's time for that stretch + bias.
bool racer_off_course(const Racer *racer, int g);
// Finished, no gate passed yet, or off course at one of its last four gates.
bool racer_out_of_race(const Racer *racer);
// Back to the 10 s bias and 1.5 scale (the network game mode changed).
void reset_off_course_rules();

// Laps completed with p race gates passed: 0 if p < F, else (p - F) / N + 1.
int laps_for_gates(int32_t gates_passed);
// Race gate index of the end of lap k (k >= 1); 0 for k = 0.
int32_t lap_end_index(int64_t k);
