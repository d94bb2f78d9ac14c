// Captures of the drawn frame: the --record-video stream of binary PPM frames on
// standard output and the numbered PNG screenshots in the home directory.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Writes one binary PPM frame ("P6\n%d %d\n255\n" and the rows top first) from an RGB
// buffer whose rows run bottom to top, as read back from the frame buffer.
bool capture_write_ppm(FILE *out, const unsigned char *pixels, int width, int height);
// Reads the frame buffer and writes it to standard output as one PPM frame.
bool capture_video_frame(int width, int height);
// The largest N among names "screenshot<N>..." (0 when there is none).
unsigned capture_highest_screenshot(const std::vector<std::string> &names);
// Saves the frame buffer as "@screenshot%03d.png" and reports it to the player.
bool capture_screenshot(int width, int height);
// Tests only: the next screenshot scans the file list again.
void capture_reset();
