// The program's entry: start-up in its fixed order, the main loop, and shutdown in
// the reverse order.
#pragma once

// Returns the process exit status.
int game_main(int argc, char **argv);

// Derives the rendering values from the graphics settings (before the command
// line replaces some of them).
void derive_render_values();
