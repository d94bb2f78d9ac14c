// GL set-up: what the driver offers, the start-up GL state and the projection.
#pragma once

// Logs the driver's vendor, renderer, version and extension strings.
void probe_gl_capabilities();
// The GL state every frame starts from; flat shading with --fugly.
void set_start_gl_state(bool flat_shading);
// Viewport and perspective: fov is the horizontal angle of a 4:3 view, wider
// windows keep its vertical angle and see more at the sides.
void set_projection(int width, int height, double fov_degrees);
// Near and far planes (the track's lighting sets them).
void set_depth_range(double near_plane, double far_plane);
// Reads the frame buffer as RGB bytes, rows bottom to top.
void read_frame_rgb(int width, int height, unsigned char *pixels);
// Fills the whole drawable with one colour.
void clear_frame(float r, float g, float b);
void gl_finish();
