// The cameras that look at the followed racer from outside: the chase and orbit
// cameras, the free camera, the track's fixed cameras and the key camera. Only the
// camera choice exists so far; the controls and drawing arrive with the scene.
#pragma once

struct ControlChannels;
struct Racer;

// -1 = the free camera, otherwise a track camera index.
int camera_choice();
void camera_set_choice(int choice);

// Per tick, `chase view`, not riding: the orbit camera follows the channels.
void orbit_controls(const ControlChannels &channels);
// Per tick, `free view`, not riding: following, camera switching, aiming, flight.
void free_camera_tick(const ControlChannels &channels, Racer *followed, bool paused);
// Per frame in `chase view` and `free view`.
void draw_chase_view(Racer *followed, bool riding);
void draw_free_view();
