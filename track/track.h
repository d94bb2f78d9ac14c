// The loaded track: its directory, terrain and objects.
#pragma once

// Frees the per-track object lists (billboards, statues, cameras).
void free_track_objects();
// Frees the terrain and everything else of the loaded track.
void free_track();
// Number of track cameras of the loaded track.
int track_camera_count();
