// Text drawing and the fonts.
#pragma once

// Loads the three fonts (start-up).
void load_fonts();
