// What the terrain's files share among themselves.
#pragma once

#include "track/terrain.h"

// Reads "tileinfo", or "texturelist" when there is none, into t->tiles and
// t->tile_count. False (after "Can't open") when neither can be opened.
bool terrain_read_tiles(Terrain *t);
// A tile type with every default: one friction point, one rolling-resistance
// point, no roost, default erosion, no texture.
TileType default_tile_type();
// Rebuilds the normal bytes of one sample from its vertex normal and light value.
void terrain_store_normal(Terrain *t, int column, int row);
