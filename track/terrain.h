// The track's ground: one square height field, a tile map on top of it and the
// physical properties of each tile type (friction, rolling resistance, roost,
// erosion). Loaded from the track directory, read by contacts, the auto pilot,
// roost and erosion and the renderer; changed only by deformation and the editor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The "Terrain Rendering Method" choices; the last two use the terrain shaders,
// which need per-sample normals.
enum {
    TERRAIN_RENDER_SOFTWARE = 0,
    TERRAIN_RENDER_HARDWARE_COPY = 1,
    TERRAIN_RENDER_HARDWARE_DIRECT = 2,
    TERRAIN_RENDER_SHADERS_COPY = 3,
    TERRAIN_RENDER_SHADERS_DIRECT = 4,
};

enum {
    TERRAIN_MIN_SIZE_LOG2 = 1,
    TERRAIN_MAX_SIZE_LOG2 = 12,     // 8193 samples a side
    TILE_TYPES_MAX = 256,
    FRICTION_POINTS_MAX = 8,
    ROLL_RESIST_POINTS_MAX = 8,
    ROOST_SLOTS = 4,
};

// The part of the track's lighting block that the baked shading needs.
struct TerrainLighting {
    float sun_vector[3];    // unit length, towards the sun
    float sun_color[3];
    float ambient[3];
};

struct FrictionPoint {
    float mu;               // friction coefficient
    float speed;            // slip speed, ft/s; 0 ends the list
};

struct RollResistPoint {
    float light;            // value at light load
    float full;             // value at full load
    float speed;            // ft/s; 0 ends the list
};

enum { ROOST_NONE = 0, ROOST_ROOST = 1, ROOST_SPLASH = 2 };

struct RoostType {
    int type;               // ROOST_NONE, ROOST_ROOST or ROOST_SPLASH
    const char *texture;    // interned particle texture name
    float count, dig, slip_threshold, slow_angle, fast_angle, slow_speed, fast_speed;
    float size, grow, drag, vscale, randomize;
    uint8_t color[4];       // r, g, b, a
    int8_t fade[4];         // r, g, b, a change per tick
};

struct ErosionParams {
    float depth, lower, upper, displacement, radius, max_slope, off_speed, on_speed;
};

struct TileType {
    FrictionPoint friction[FRICTION_POINTS_MAX];           // sorted by speed
    int friction_count;
    RollResistPoint roll_resist[ROLL_RESIST_POINTS_MAX];   // sorted by speed
    int roll_resist_count;
    RoostType roost[ROOST_SLOTS];
    ErosionParams erosion;
    const char *texture;    // interned ground texture name, "" when none
};

// Kept as read; whether its texture can be loaded is the renderer's business.
struct Decal {
    float x, z;             // centre
    float angle;            // direction, radians
    float sine, cosine;     // of the angle
    float size;             // extent along the decal's z axis
    float aspect;           // the x extent is size × aspect
    const char *texture;    // interned name
};

struct Terrain {
    int size_log2;                  // k
    int grid_size;                  // N = 2^(k+1) + 1 samples a side
    float cell;                     // sample spacing, ft
    float extent;                   // (N − 1) × cell
    std::vector<float> heights;     // N × N, index j·N + i is (i·cell, h, j·cell)
    float min_height, max_height;
    int tile_map_size;              // M = 2^k, one tile per 2 × 2 cells
    std::vector<uint8_t> tile_map;  // M × M, row = z; every value < tile_count
    int tile_count;                 // 1..256
    std::vector<TileType> tiles;
    std::vector<uint8_t> shading;   // N × N RGB at half intensity
    std::vector<uint8_t> shadows;   // N × N shadow amounts (0 = none)
    bool has_shadow_file;
    std::vector<uint8_t> normals;   // N × N byte triples; empty without terrain shaders
    bool modified;
    int modification_count;
    bool locked;                    // network race: deformation leaves heights alone
    std::vector<Decal> decals;
    TerrainLighting lighting;
    std::string directory;          // the track directory it came from
    int render_mode;
};

// The sun (1, 1, 1) normalised, white, ambient 0.5.
TerrainLighting default_terrain_lighting();

// Reads "@" + directory + "/terrain.hf" and the files beside it. Null on failure,
// after the messages.
Terrain *load_terrain(const char *directory, int render_mode);
void free_terrain(Terrain *t);
// Writes heights, shading, tile map and decals into the home directory's copy of
// the track directory.
bool save_terrain(Terrain *t);

// Height at a world point; outside the field the border heights continue.
float terrain_height(const Terrain *t, float x, float z);
// Normal of the triangle under the point, not normalised, y ≥ 0.
void terrain_face_normal(const Terrain *t, float x, float z, float normal[3]);
// Tile type under the point; outside the field the border tiles continue.
int tile_at(const Terrain *t, float x, float z);
// Unit normal at a sample, from its eight neighbours.
void vertex_normal(const Terrain *t, int column, int row, float normal[3]);
// Rebuilds shading (and normals with terrain shaders) over an inclusive sample
// rectangle and hands it to the dirty hook.
void refresh_terrain_rect(Terrain *t, int first_column, int first_row, int last_column,
                          int last_row);
// Deformation; not built yet.
void terrain_bump(Terrain *t, float x, float z, float radius, float amount);

// The renderer's mark_terrain_dirty; null restores the do-nothing default.
void terrain_set_dirty_hook(void (*hook)(Terrain *t, int c0, int r0, int c1, int r1));
