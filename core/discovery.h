// The tracks and demos found among the data files at start-up.
#pragma once

#include <string>
#include <vector>

struct TrackEntry {
    std::string directory;      // relative data path
    std::string display_name;   // first line of its "desc", else the directory
};

struct DemoEntry {
    std::string path;           // relative data path
    std::string display_name;   // file name without folder and last extension
};

// Both lists are built from the data layer's name list; tracks are sorted by
// display name, case-insensitively.
void discover_tracks(std::vector<TrackEntry> *tracks);
void discover_demos(std::vector<DemoEntry> *demos);

const std::vector<TrackEntry> &track_list();
const std::vector<DemoEntry> &demo_list();
// Builds both lists; false when no track exists.
bool discover_tracks_and_demos();
