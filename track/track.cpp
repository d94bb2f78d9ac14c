#include "track/track.h"

// Track loading arrives with the terrain; nothing is loaded yet.
void free_track_objects() {}

void free_track() {}

int track_camera_count()
{
    return 0;
}
