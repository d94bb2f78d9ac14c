// Lap times and the results file. "@results.txt" is rewritten when a race ends with
// a finisher in front; it is built in memory and renamed over the old file, so a
// failed write leaves the previous results in place.
#include "race/results.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "core/datafile.h"
#include "core/options.h"
#include "race/order.h"
#include "race/race.h"
#include "sim/catalogue.h"
#include "sim/racer.h"
#include "track/gates.h"
#include "track/track.h"

static const char RESULTS_NAME[] = "@results.txt";
static const char RESULTS_PART[] = "@results.txt.part";

static void append_format(std::string *text, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

static void append_format(std::string *text, const char *format, ...)
{
    char line[1200];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0)
        text->append(line, n < (int)sizeof line ? n : (int)sizeof line - 1);
}

static int32_t time_of_gate(const Racer *racer, int64_t g)
{
    if (g < 0 || g >= racer->gates.gates_passed)
        return -1;
    return gate_time(&racer->gates, (int)g);
}

double lap_time(const Racer *racer, int k)
{
    if (k < 1 || k > order_laps_for_gates(racer->gates.gates_passed))
        return 0;
    int32_t end = time_of_gate(racer, order_lap_end(k));
    int32_t begin = k == 1 ? race_state().start_frame : time_of_gate(racer, order_lap_end(k - 1));
    if (end < 0 || begin < 0)
        return 0;
    return (end - begin) * TICK;
}

double best_lap(const Racer *racer, int *lap)
{
    int laps = order_laps_for_gates(racer->gates.gates_passed);
    int best = 0;
    double best_time = 0;
    for (int k = 2; k <= laps; k++) {
        double t = lap_time(racer, k);
        if (t != 0 && (best == 0 || t < best_time)) {
            best = k;
            best_time = t;
        }
    }
    if (lap)
        *lap = best;
    return best_time;
}

// "%3d:%02d.%03d" of a time in frames; milliseconds are truncated, never rounded.
static void append_clock(std::string *text, int64_t frames)
{
    int64_t ms = frames > 0 ? frames * 1000 / TICK_RATE : 0;
    append_format(text, "%3d:%02d.%03d", (int)(ms / 60000), (int)(ms / 1000 % 60),
                  (int)(ms % 1000));
}

// The file, CRLF line ends throughout:
//   Time=<duration s, %.2f>|Laps=<configured laps>|Track=<directory>|Date=<unix time>
//   the column heading "No. | Bike | Laps | Total Time | BLap | Best Time" (padded)
//   per finisher in results order: number (%4s), bike model (%12s), laps after any
//     taken away for cutting (%4d), total time with the penalty, best lap number
//     (%4d) and its time
//   then per finisher: an empty line, its gates passed (%d) directly followed by its
//     gate times, seconds since the start in %8.3f or -1 in %8d for a missed gate; a
//     blank separates gates of one lap, a line end follows the last gate of a lap
//     and the very last gate.
std::string format_results(const char *track, long date)
{
    const RaceState &race = race_state();
    std::string text;
    append_format(&text, "Time=%.2f|Laps=%d|Track=%.900s|Date=%ld\r\n", race.duration * TICK,
                  race.configured_laps, track ? track : "", date);
    append_format(&text, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps",
                  "Total Time", "BLap", "Best Time");
    for (int i = 0; i < race.results_count; i++) {
        const OrderEntry &e = race.results[i];
        const Racer *racer = race.racers[e.slot];
        if (!racer || !racer_finished(racer))
            continue;
        append_format(&text, "%4.7s | %12.200s | %4d | ", racer_plate_text(racer),
                      racer_model_name(racer), order_laps_for_gates(e.gates_passed));
        append_clock(&text, (int64_t)e.time - race.start_frame);
        int lap;
        double best = best_lap(racer, &lap);
        append_format(&text, " | %4d | ", lap);
        append_clock(&text, (int64_t)(best * TICK_RATE + 0.5));
        text += "\r\n";
    }
    for (int i = 0; i < race.results_count; i++) {
        const Racer *racer = race.racers[race.results[i].slot];
        if (!racer || !racer_finished(racer))
            continue;
        int passed = racer->gates.gates_passed;
        append_format(&text, "\r\n%d", passed);
        for (int g = 0; g < passed; g++) {
            int32_t t = gate_time(&racer->gates, g);
            if (t >= 0)
                append_format(&text, "%8.3f", (t - race.start_frame) * TICK);
            else
                append_format(&text, "%8d", -1);
            text += g + 1 == passed || is_lap_end(g) ? "\r\n" : " ";
        }
    }
    return text;
}

bool write_results()
{
    const char *home = home_dir();
    if (!home)
        return false;
    std::string text = format_results(track_directory(), (long)time(nullptr));
    // Opened by its path in the home directory: a "@" name that cannot be made there
    // would be looked for in the game data folders next.
    DataFile *file = data_open((std::string(home) + (RESULTS_PART + 1)).c_str(), "wb");
    if (!file)
        return false;
    bool ok = data_write(file, text.data(), text.size()) == text.size() && data_flush(file);
    data_close(file);
    if (!ok || !data_rename(RESULTS_PART, RESULTS_NAME)) {
        data_remove(RESULTS_PART);
        return false;
    }
    return true;
}
