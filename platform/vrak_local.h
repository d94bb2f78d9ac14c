// VRAK internals shared between the platform layer's own files: the window record,
// the scan-code map between SDL and the PC set-1 codes, the window-message pump
// used by the event calls, and the full-screen mode choice. Not for the game.
#pragma once

#include "platform/vrak.h"

#include <SDL.h>

#include <cstdint>
#include <string>

struct GameWindow {
    std::string title;
    int requested_width;
    int requested_height;
    int colour_bits;
    bool full_screen;
    int full_screen_width; // the mode actually chosen for full screen
    int full_screen_height;
    int client_width; // updated on every size change
    int client_height;
    bool suspended; // set while the display mode is being switched
    SDL_Window *sdl_window;
    SDL_GLContext gl_context;
    SDL_Cursor *cursor;
};

// Processes the window system's pending messages into the event queue.
void vrak_window_pump(GameWindow *window);

// The set-1 scan code (0x100 marks extended keys) of an SDL scancode; 0 for none.
int vrak_scancode_to_set1(SDL_Scancode scancode);

// The full-screen mode for a requested size: among the listed modes (ending with an
// all-zero entry) at least as wide and as high, the one with the smallest
// width + height; the desktop's mode when none fits or a size is 0.
VrakVideoMode vrak_choose_full_screen_mode(const VrakVideoMode *modes, VrakVideoMode desktop,
                                           int width, int height);

// Adds an alias unless the name has one already, without a message (the fixed
// aliases are made again each time a window opens).
void vrak_alias_quietly(const char *name, const char *replacement);

// Time helpers: whole microseconds of a clock reading, and back.
int64_t vrak_time_to_micros(VrakTime t);
VrakTime vrak_micros_to_time(int64_t micros);
