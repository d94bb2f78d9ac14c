// Points series: the table of ".series" files found among the game data, their
// standings files in the home directory, the rounds and their points, the grid of
// the next event and the recording of an event's finishing positions.
#include "race/series.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "core/datafile.h"
#include "core/discovery.h"
#include "core/options.h"
#include "core/settings.h"
#include "platform/vrak.h"
#include "race/order.h"
#include "race/race.h"
#include "sim/catalogue.h"
#include "sim/racer.h"

enum {
    NAME_MAX_LENGTH = 1023,
    MAX_BIKE_NUMBER = 1000000,      // keeps 1000 + number a plain lineup code
};

static void no_start_event(int, const int *, int, int, int) {}

static struct {
    std::vector<Series> table;
    int current_series = -1;        // the event being raced, -1 when none
    int current_event = -1;
    SeriesHooks hooks = {no_start_event};
} series;

void series_set_hooks(const SeriesHooks *hooks)
{
    series.hooks = hooks ? *hooks : SeriesHooks{no_start_event};
    if (!series.hooks.start_event)
        series.hooks.start_event = no_start_event;
}

static int points_at(const int *table, int i)
{
    return i >= 0 && i < SERIES_POINTS ? table[i] : 0;
}

static bool same_ignoring_case(const char *a, const char *b)
{
    for (; *a && *b; a++, b++)
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
    return *a == *b;
}

// Skill words come from the "Robot Skill" choices; the built-in words stand in
// when the settings have not been set up.
static int skill_index(const char *word)
{
    static const char *const defaults[3] = {"novice", "amateur", "expert"};
    const std::vector<std::string> &choices = settings().skill.choices;
    for (int i = 0; i < 3; i++) {
        const char *known = i < (int)choices.size() ? choices[i].c_str() : defaults[i];
        if (same_ignoring_case(word, known))
            return i;
    }
    return 2;
}

static int find_track(const std::string &directory)
{
    const std::vector<TrackEntry> &tracks = track_list();
    for (size_t i = 0; i < tracks.size(); i++)
        if (same_ignoring_case(tracks[i].directory.c_str(), directory.c_str()))
            return (int)i;
    return -1;
}

// A double-quoted string (longer ones are cut at 1023 characters) or, failing
// that, one word. False at the end of the file or inside an unclosed quote.
static bool read_name(DataFile *file, std::string *out)
{
    int c;
    while ((c = data_peekc(file)) != DATA_EOF && isspace(c))
        data_getc(file);
    if (c == DATA_EOF)
        return false;
    out->clear();
    if (c == '"') {
        data_getc(file);
        while ((c = data_getc(file)) != DATA_EOF && c != '"')
            if (out->size() < NAME_MAX_LENGTH)
                out->push_back((char)c);
        return c == '"';
    }
    char word[NAME_MAX_LENGTH + 1];
    if (data_scanf(file, "%1023s", word) != 1)
        return false;
    *out = word;
    return true;
}

static bool read_ints(DataFile *file, int *values, int count)
{
    for (int i = 0; i < count; i++)
        if (data_scanf(file, "%d", &values[i]) != 1)
            return false;
    return true;
}

// A series file, whitespace-separated:
//   title              a double-quoted string or one word
//   N skill            opponent count (N + 1 entrants at most 160) and the auto
//                      pilot's skill word; an unknown word means the top skill
//   N numbers          the opponents' bike numbers (0..1000000)
//   E                  the number of events, then per event:
//     name track       each quoted or one word; the track is a directory of the
//                      track list, an unlisted one drops the file
//     minutes laps     race length
//     40 integers      moto points by finishing position (A)
//     40 integers      series points by round position (B); B[0] = 0 marks a moto
//                      whose points are carried to the event that closes the round
// A file that ends early is dropped.
static bool read_series_body(DataFile *file, Series *s)
{
    if (!read_name(file, &s->title))
        return false;
    if (startup_options().debug >= 1)
        vrak_log("series %.900s (%.900s)\n", s->file.c_str(), s->title.c_str());
    char skill[NAME_MAX_LENGTH + 1];
    if (data_scanf(file, "%d %1023s", &s->opponents, skill) != 2)
        return false;
    if (s->opponents < 0 || s->opponents + 1 > SERIES_ENTRANTS)
        return false;
    s->skill = skill_index(skill);
    if (!read_ints(file, s->numbers, s->opponents))
        return false;
    for (int k = 0; k < s->opponents; k++)
        if (s->numbers[k] < 0 || s->numbers[k] > MAX_BIKE_NUMBER)
            return false;

    int event_count;
    if (data_scanf(file, "%d", &event_count) != 1 || event_count < 0)
        return false;
    // Events are added as they are read, so a bogus count costs nothing.
    for (int e = 0; e < event_count; e++) {
        SeriesEvent ev = {};
        std::string track;
        if (!read_name(file, &ev.name) || !read_name(file, &track))
            return false;
        ev.track = find_track(track);
        if (ev.track < 0)
            return false;
        if (data_scanf(file, "%d %d", &ev.minutes, &ev.laps) != 2)
            return false;
        if (!read_ints(file, ev.moto_points, SERIES_POINTS) ||
            !read_ints(file, ev.series_points, SERIES_POINTS))
            return false;
        for (int k = 0; k < SERIES_ENTRANTS; k++)
            ev.pos[k] = (int16_t)s->opponents;
        if (startup_options().debug >= 1)
            vrak_log("  event %.900s (%.900s)\n", track_list()[ev.track].display_name.c_str(),
                     ev.name.c_str());
        s->events.push_back(ev);
    }
    return true;
}

bool read_series_file(const char *name, Series *out)
{
    *out = Series{};
    out->file = name;
    out->standings = "@" + out->file + "_standings";
    std::string data_name = "@" + out->file;
    DataFile *file = data_open(data_name.c_str(), "rb");
    if (!file)
        return false;
    bool ok = read_series_body(file, out);
    data_close(file);
    if (!ok) {
        *out = Series{};
        return false;
    }
    read_standings(out);
    compute_round_positions(out);
    return true;
}

// The standings file: one line per completed event, in event order, with the
// finishing positions of entrants 0..N (1-based, the player last) as "%d ". Reading
// stops at the first incomplete line or a position outside 1..N + 1.
void read_standings(Series *s)
{
    s->completed = 0;
    DataFile *file = data_open(s->standings.c_str(), "rb");
    if (!file)
        return;
    int entrants = s->opponents + 1;
    for (SeriesEvent &ev : s->events) {
        int16_t pos[SERIES_ENTRANTS];
        bool complete = true;
        for (int k = 0; k < entrants && complete; k++) {
            int value;
            complete = data_scanf(file, "%d", &value) == 1 && value >= 1 && value <= entrants;
            if (complete)
                pos[k] = (int16_t)(value - 1);
        }
        if (!complete)
            break;
        memcpy(ev.pos, pos, entrants * sizeof pos[0]);
        s->completed++;
    }
    data_close(file);
}

static bool write_standings(const Series *s)
{
    std::string text;
    char number[16];
    for (int e = 0; e < s->completed; e++) {
        for (int k = 0; k <= s->opponents; k++) {
            snprintf(number, sizeof number, "%d ", s->events[e].pos[k] + 1);
            text += number;
        }
        text += "\n";
    }
    const char *home = home_dir();
    if (!home)
        return false;
    // Opened by its path in the home directory (a "@" name that cannot be made there
    // would be looked for in the game data folders next); a series in a folder of the
    // game data gets the same folder in the home directory.
    std::string part = s->standings + ".part";
    std::filesystem::path path = std::string(home) + part.substr(1);
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    DataFile *file = data_open(path.string().c_str(), "wb");
    if (!file)
        return false;
    bool ok = data_write(file, text.data(), text.size()) == text.size() && data_flush(file);
    data_close(file);
    if (!ok || !data_rename(part.c_str(), s->standings.c_str())) {
        data_remove(part.c_str());
        return false;
    }
    return true;
}

void compute_round_positions(Series *s)
{
    int entrants = s->opponents + 1;
    int64_t total[SERIES_ENTRANTS] = {};
    for (int e = 0; e < s->completed && e < (int)s->events.size(); e++) {
        SeriesEvent &ev = s->events[e];
        for (int k = 0; k < entrants; k++) {
            total[k] += points_at(ev.moto_points, ev.pos[k]);
            ev.round[k] = 0;
        }
        if (ev.series_points[0] == 0)
            continue;
        // Highest total first; equal totals go to the better place in this event.
        bool placed[SERIES_ENTRANTS] = {};
        for (int r = 0; r < entrants; r++) {
            int best = -1;
            for (int k = 0; k < entrants; k++) {
                if (placed[k])
                    continue;
                if (best < 0 || total[k] > total[best] ||
                    (total[k] == total[best] && ev.pos[k] < ev.pos[best]))
                    best = k;
            }
            ev.round[best] = (int16_t)r;
            placed[best] = true;
        }
        for (int k = 0; k < entrants; k++)
            total[k] = 0;       // the next round starts level
    }
}

int series_total(const Series *s, int entrant)
{
    if (entrant < 0 || entrant > s->opponents)
        return 0;
    int sum = 0;
    for (int e = 0; e < s->completed && e < (int)s->events.size(); e++) {
        const SeriesEvent &ev = s->events[e];
        if (ev.series_points[0] != 0)
            sum += points_at(ev.series_points, ev.round[entrant]);
    }
    return sum;
}

void load_series()
{
    free_series();
    for (const std::string &name : data_list_files()) {
        static const char suffix[] = ".series";
        size_t n = sizeof suffix - 1;
        if (name.size() <= n || name.compare(name.size() - n, n, suffix) != 0)
            continue;
        Series s;
        if (read_series_file(name.c_str(), &s))
            series.table.push_back(std::move(s));
    }
}

void free_series()
{
    series.table.clear();
    series.current_series = series.current_event = -1;
}

int series_count()
{
    return (int)series.table.size();
}

Series *series_at(int i)
{
    return i >= 0 && i < series_count() ? &series.table[i] : nullptr;
}

// Grid slots in the order entrants are put on them, from the last of the previous
// event up to its winner.
static int grid_order(int entrants, int *slots)
{
    int n = 0;
    if (entrants <= 15) {
        for (int i = 0; i < entrants; i++)
            slots[n++] = 6 + 2 * i;
        return n;
    }
    slots[n++] = 10;
    for (int d = 1; d <= 10; d++) {
        slots[n++] = 10 - d;
        slots[n++] = 10 + d;
    }
    for (int slot = 21; slot < RACER_SLOTS && n < entrants; slot++)
        slots[n++] = slot;
    return n;
}

static int entrant_code(const Series *s, int k)
{
    return k < s->opponents ? LINEUP_NUMBER + s->numbers[k] : LINEUP_LOCAL;
}

bool next_event_lineup(const Series *s, int *lineup)
{
    if (s->completed >= (int)s->events.size())
        return false;
    for (int i = 0; i < RACER_SLOTS; i++)
        lineup[i] = 0;
    int entrants = s->opponents + 1;
    if (s->completed == 0) {
        for (int k = 0; k < entrants; k++)
            lineup[k] = entrant_code(s, k);
        return true;
    }
    const SeriesEvent &prev = s->events[s->completed - 1];
    int slots[RACER_SLOTS];
    int slot_count = grid_order(entrants, slots);
    int next = 0;
    for (int place = s->opponents; place >= 0; place--) {
        for (int k = 0; k < entrants; k++) {
            int pos = prev.pos[k] < 0 ? 0 : prev.pos[k] > s->opponents ? s->opponents : prev.pos[k];
            if (pos == place && next < slot_count)
                lineup[slots[next++]] = entrant_code(s, k);
        }
    }
    return true;
}

void enter_next_event(int index, bool practice)
{
    Series *s = series_at(index);
    int lineup[RACER_SLOTS];
    if (!s || !next_event_lineup(s, lineup))
        return;
    const SeriesEvent &ev = s->events[s->completed];
    series.hooks.start_event(ev.track, lineup, ev.minutes, ev.laps, s->skill);
    // Set after the race has started: starting it records the event left behind.
    if (!practice) {
        series.current_series = index;
        series.current_event = s->completed;
    }
}

void reset_points(int index)
{
    Series *s = series_at(index);
    if (!s)
        return;
    int old = s->completed;
    s->completed = 0;
    if (!write_standings(s))
        s->completed = old;
    compute_round_positions(s);
}

void record_event_result()
{
    Series *s = series_at(series.current_series);
    int event = series.current_event;
    series.current_series = series.current_event = -1;
    if (!s || event != s->completed || event >= (int)s->events.size())
        return;

    const RaceState &race = race_state();
    const OrderEntry *order = race.results_final ? race.results : race.order;
    int count = race.results_final ? race.results_count : race.order_count;
    SeriesEvent &ev = s->events[event];
    int16_t old_pos[SERIES_ENTRANTS];
    memcpy(old_pos, ev.pos, sizeof old_pos);

    bool placed[SERIES_ENTRANTS] = {};
    for (int k = 0; k <= s->opponents; k++)
        ev.pos[k] = (int16_t)s->opponents;
    int next = 0;
    bool player_seen = false;
    char number[16];
    for (int i = 0; i < count; i++) {
        int slot = order[i].slot;
        const Racer *racer = slot >= 0 && slot < RACER_SLOTS ? race.racers[slot] : nullptr;
        if (!racer)
            continue;
        if (race.kind[slot] == LocalRider) {
            if (player_seen)
                continue;
            player_seen = true;
            // A race left early leaves the player last unless it finished clean.
            if (race.results_final ||
                (racer_finished(racer) && cutting_penalty(racer, nullptr, nullptr) == 0))
                ev.pos[s->opponents] = (int16_t)next++;
            continue;
        }
        // The first bike carrying an opponent's number places it; later ones do not.
        for (int k = 0; k < s->opponents; k++) {
            snprintf(number, sizeof number, "%d", s->numbers[k]);
            if (!placed[k] && strcmp(racer_plate_text(racer), number) == 0) {
                placed[k] = true;
                ev.pos[k] = (int16_t)next++;
                break;
            }
        }
    }

    s->completed++;
    if (!write_standings(s)) {
        // The standings on disk and in memory stay as they were.
        s->completed--;
        memcpy(ev.pos, old_pos, sizeof old_pos);
    }
    compute_round_positions(s);
}

void current_event(int *series_index, int *event)
{
    *series_index = series.current_series;
    *event = series.current_event;
}

int series_round_count(const Series *s)
{
    int rounds = 0;
    for (const SeriesEvent &ev : s->events)
        rounds += ev.series_points[0] != 0;
    return rounds;
}

std::string standings_round_label(int round)
{
    char text[32];
    snprintf(text, sizeof text, "Rd %d", round + 1);
    return text;
}

std::string standings_cell(const Series *s, int round, int entrant)
{
    if (entrant < 0 || entrant > s->opponents)
        return "";
    int first = 0;
    for (int e = 0; e < (int)s->events.size(); e++) {
        const SeriesEvent &ev = s->events[e];
        if (ev.series_points[0] == 0)
            continue;
        if (round-- > 0) {
            first = e + 1;
            continue;
        }
        if (e >= s->completed)
            return "";
        char text[64];
        snprintf(text, sizeof text, "%d (", points_at(ev.series_points, ev.round[entrant]));
        std::string cell = text;
        for (int m = first; m <= e; m++) {
            snprintf(text, sizeof text, m > first ? "-%d" : "%d", s->events[m].pos[entrant] + 1);
            cell += text;
        }
        return cell + ")";
    }
    return "";
}

std::string standings_heading(const Series *s)
{
    char text[1100];
    if (s->completed < (int)s->events.size())
        snprintf(text, sizeof text, "Next Event: %.900s", s->events[s->completed].name.c_str());
    else
        snprintf(text, sizeof text, "%.900s Final Standings", s->title.c_str());
    return text;
}
