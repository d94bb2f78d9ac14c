// Shared between the track's own files (track.cpp, track_lighting.cpp,
// track_objects.cpp); nothing outside track/ includes this.
#pragma once

#include <string>

#include "track/track.h"

struct DataFile;

const TrackHooks &track_hooks();
// Hook wrappers that accept null names and missing hooks.
unsigned track_load_texture(const char *name);
void *track_load_model(const char *name);

// One line without its end (and without a trailing "\r"); false at end of file.
// Very long lines are cut, the rest of them skipped.
bool track_read_line(DataFile *file, std::string *line);

// "@" + directory + "/" + file.
std::string track_file_name(const char *directory, const char *file);

void read_lighting(const char *directory, TrackLighting *lighting);
void read_flaggers(const char *directory);
void read_billboards(const char *directory);
void read_statues(const char *directory);
void read_cameras(const char *directory);
// Empties the object tables and the grid and puts the gate map back to -1.
void reset_track_objects();
