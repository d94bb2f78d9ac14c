// "@results.txt": the finishers with their laps, total and best lap times, and every
// gate time. Lap times here are the ones the HUD and the series use as well.
#pragma once

#include <cstdint>
#include <string>

struct Racer;

// Lap k of a racer in seconds (lap 1 from the start); 0 when not completed or a
// gate time is missing.
double lap_time(const Racer *racer, int k);
// Best lap among laps 2 .. completed: *lap = 0 and 0 s when fewer than two laps.
double best_lap(const Racer *racer, int *lap);
// Writes "@results.txt" from the results order (atomically: a failed write leaves
// the previous file). False when it could not be written.
bool write_results();
// The text write_results puts in the file, for the given track directory and date
// (seconds since 1970).
std::string format_results(const char *track, long date);
