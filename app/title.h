// The title screen: shown while no track is loaded, and with a progress text as the
// loading screen while a track loads or a race is set up.
#pragma once

// Draws into the current frame; a non-empty message is also logged.
void draw_title_screen(const char *message);
