// The outside cameras. The camera choice is kept here; the controls and drawing are
// empty until the scene drawing and the track cameras exist.
#include "app/camera.h"

static struct {
    int choice = -1;
} cameras;

int camera_choice()
{
    return cameras.choice;
}

void camera_set_choice(int choice)
{
    cameras.choice = choice;
}

// The orbit camera moves with the scene drawing; nothing to steer yet.
void orbit_controls(const ControlChannels &channels)
{
    (void)channels;
}

// Free flight needs the terrain for its ground clearance; empty until then.
void free_camera_tick(const ControlChannels &channels, Racer *followed, bool paused)
{
    (void)channels;
    (void)followed;
    (void)paused;
}

void draw_chase_view(Racer *followed, bool riding)
{
    (void)followed;
    (void)riding;
}

void draw_free_view() {}
