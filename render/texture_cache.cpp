#include "render/texture_cache.h"

// Images and textures come with the renderer; nothing is cached yet.
void build_graphics_choice_lists() {}

void load_hud_images() {}

void free_texture_lists() {}
