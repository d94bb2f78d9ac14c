// Points series: ".series" data files with opponents, a skill and a sequence of
// events grouped into rounds, and their standings files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum {
    SERIES_POINTS = 40,         // entries of the moto and series points tables
    SERIES_ENTRANTS = 160,      // opponents + the player
    SERIES_MENU_COUNT = 20,     // series offered in the front end's list
};

struct SeriesEvent {
    std::string name;
    int track;                          // index into the track list
    int minutes, laps;
    int moto_points[SERIES_POINTS];     // A: by finishing position
    int series_points[SERIES_POINTS];   // B: by round position; B[0] == 0 = moto only
    int16_t pos[SERIES_ENTRANTS];       // finishing position of each entrant (0-based)
    int16_t round[SERIES_ENTRANTS];     // round position of each entrant
};

struct Series {
    std::string title;
    std::string file;           // data file name
    std::string standings;      // "@" + file + "_standings"
    int opponents;              // N; entrant N is the player
    int numbers[SERIES_ENTRANTS];
    int skill;                  // 0..2
    std::vector<SeriesEvent> events;
    int completed;              // events with results
};

// Finds the ".series" files among the data files (start-up) and reads their
// standings. Complete files only; the table is rebuilt on every call.
void load_series();
void free_series();
int series_count();
Series *series_at(int i);
// Reads one series file ("@" + data name) and its standings into *out; false when
// the file is incomplete or names a track that is not in the track list.
bool read_series_file(const char *name, Series *out);
// Reads the standings file into the series: completed = complete lines.
void read_standings(Series *s);
void compute_round_positions(Series *s);
// Series points of an entrant over the scoring events completed.
int series_total(const Series *s, int entrant);

// What the series needs from the race and the front end.
struct SeriesHooks {
    // Starts a race: leave a network game, select the track, then new_race with this
    // lineup (RACER_SLOTS codes), minutes and laps, no playback, recording as
    // configured, the given skill.
    void (*start_event)(int track, const int *lineup, int minutes, int laps, int skill);
};
void series_set_hooks(const SeriesHooks *hooks);

// The lineup codes of the series' next event (RACER_SLOTS entries); false when
// every event is completed.
bool next_event_lineup(const Series *s, int *lineup);
void enter_next_event(int series, bool practice);
void reset_points(int series);
// Stores the result of the current event, if any (new_race and final results).
void record_event_result();
// The current event: series and event index, -1 when none.
void current_event(int *series, int *event);

// The standings screen. Rounds are counted by their scoring events.
int series_round_count(const Series *s);
// "Rd %d" for round r (0-based).
std::string standings_round_label(int round);
// The cell of an entrant in round r: its series points with the moto positions,
// "%d (%d)", "%d (%d-%d)", "%d (%d-%d-%d)"; empty while the round is not complete.
std::string standings_cell(const Series *s, int round, int entrant);
// "Next Event: <event name>", or "<title> Final Standings" once every event is done.
std::string standings_heading(const Series *s);
