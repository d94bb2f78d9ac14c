// Small in-memory height fields for the simulation tests: N x N samples (N =
// 2^(k+1) + 1) cell ft apart, heights from a function of the sample indices, and
// one tile type of the given friction at every slip speed. Outside the field the
// border heights continue.
#pragma once

#include <algorithm>

#include "track/terrain.h"

template <typename Height>
Terrain test_terrain(int size_log2, float cell, Height height, float mu = 1)
{
    Terrain t = {};
    int n = (1 << (size_log2 + 1)) + 1, tiles = 1 << size_log2;
    t.size_log2 = size_log2;
    t.grid_size = n;
    t.cell = cell;
    t.extent = (n - 1) * cell;
    t.heights.resize((size_t)n * n);
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++)
            t.heights[(size_t)j * n + i] = (float)height(i, j);
    t.min_height = *std::min_element(t.heights.begin(), t.heights.end());
    t.max_height = *std::max_element(t.heights.begin(), t.heights.end());
    t.tile_map_size = tiles;
    t.tile_map.assign((size_t)tiles * tiles, 0);
    t.tile_count = 1;
    t.tiles.resize(1);
    t.tiles[0].friction[0] = {mu, 1};
    t.tiles[0].friction_count = 1;
    return t;
}

// Flat ground at height 0: 5 x 5 samples 64 ft apart.
inline Terrain flat_terrain(float mu = 1)
{
    return test_terrain(1, 64, [](int, int) { return 0.0; }, mu);
}
