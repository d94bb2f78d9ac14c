#include "app/text.h"

// The fonts are images of the game data, which has none yet.
void load_fonts() {}
