#include "race/race.h"

static RaceState race;
static bool track_loaded;

RaceState &race_state()
{
    return race;
}

bool race_track_loaded()
{
    return track_loaded;
}

void race_set_track_loaded(bool loaded)
{
    track_loaded = loaded;
}

void race_clear_slots()
{
    for (int i = 0; i < RACER_SLOTS; i++) {
        race.racers[i] = nullptr;
        race.kind[i] = Replayed;
    }
    race.local_slot = NO_SLOT;
}

// Loading the track and lining up the bikes come with the track and race code;
// until then a race never starts, and the game stays on the title screen.
void new_race(const int *lineup, bool play_demo, bool record_demo, int duration_frames,
              int laps, int skill)
{
    (void)lineup;
    (void)play_demo;
    (void)record_demo;
    (void)skill;
    race.duration = duration_frames;
    race.configured_laps = laps;
    race.total_laps = laps;
    race.time_trial = lineup == nullptr;
}

void game_step()
{
    race.frame++;
}

void free_racers()
{
    for (int i = 0; i < RACER_SLOTS; i++)
        race.racers[i] = nullptr;
}
