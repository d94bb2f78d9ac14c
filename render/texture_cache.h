// The texture and image caches.
#pragma once

// Fills the riding gear, helmet, bike and wheel graphics choices from the data
// file names (start-up).
void build_graphics_choice_lists();
// Loads the HUD images (tachometer, shifter, pit board, title).
void load_hud_images();
void free_texture_lists();
