// The loaded track: its directory and long name, the terrain, the light and sky
// set-up, the objects read from the track's files (billboards, statues, flaggers,
// cameras), the collision grid over the statues and the track hash.
// There is one track at a time; load_track replaces it and free_track drops it.
// Textures and models are reached through TrackHooks, so this code never touches
// the renderer; without hooks every handle stays empty and only names are kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Terrain;
struct Shape;

enum {
    TRACK_HASH_SIZE = 20,
    TRACK_SKY_SLOTS = 5,            // north, east, south, west, up
    TRACK_FLARE_ELEMENTS = 8,
    TRACK_PARTICLES = 2000,         // billboards reserved for roost particles
    TRACK_GRID = 8,                 // collision grid cells per side
    TRACK_GATE_CAMERAS = 256,
    TRACK_MAX_BILLBOARDS = 200000,
    TRACK_MAX_STATUES = 50000,
    TRACK_MAX_CAMERAS = 4096,
    TRACK_MAX_CHECKPOINT_FLAGGERS = 4096,
};

// Statues within this distance (x and z) of a point are candidates for contacts.
constexpr float TRACK_NEAR_DISTANCE = 6.0f;

struct TrackLighting {
    float sun_vector[3];        // unit length after loading
    float sun_color[3];
    float ambient[3];
    float global_ambient[3];
    float near_plane;
    float far_plane;
    bool dynamic_lighting;
    bool fog;                   // a fog line was given (exponential fog)
    float fog_color[3];
    float fog_density;
    const char *sky_names[TRACK_SKY_SLOTS];     // interned texture names
    unsigned sky[TRACK_SKY_SLOTS];              // texture handles
    const char *sky_env_name;
    unsigned sky_env;
};

// The four numbers of an element are kept for the renderer, which gives them
// their meaning.
struct FlareElement {
    float a, b;
    float color[3];
    float c;
    const char *texture_name;
    unsigned texture;
};

struct Flare {
    float source[3];
    bool is_point;              // source is a point; otherwise a direction
    int element_count;
    FlareElement elements[TRACK_FLARE_ELEMENTS];
};

struct Billboard {
    float x, y, z;              // y = ground + height
    float size_a, size_b;
    float height;               // above ground, as read
    const char *texture_name;   // interned, null for none
    unsigned texture;
    uint8_t tint[4];            // r, g, b, a
};

struct Statue {
    const char *model_name;     // interned, each may be null
    const char *texture_name;
    const char *shape_name;
    void *model;
    Shape *shape;
    unsigned texture;
    unsigned normal_map;
    unsigned specular_map;
    float x, y, z;              // y = ground + height
    float height;               // above ground, as read
    float angle;                // radians
    float orientation[3][3];    // rows
    float face_viewer;          // 2^angle for angles from 3.25 up, else 0
    int32_t last_touched_frame;
};

struct WalkingFlagger {
    int billboard;
    float start[3], end[3];     // y above ground
    float walk_time;
    const char *texture_names[5];
    unsigned textures[5];
};

struct LapFlagger {
    int billboard;
    const char *texture_names[4];
    unsigned textures[4];
};

struct CheckpointFlagger {
    int billboard;
    const char *idle_name, *waving_name;
    unsigned idle, waving;
    int checkpoints[4];         // -1 or a valid checkpoint
};

struct FlaggerSet {
    bool has_walking;
    WalkingFlagger walking;
    bool has_lap;
    LapFlagger lap;
    std::vector<CheckpointFlagger> checkpoint;
};

struct TrackCamera {
    float x, y, z;              // y = ground + height given
    int32_t run[4];             // run-time words of the camera code, zero on load
    float fov;                  // degrees
    float autofovsize;
};

struct Track {
    std::string directory;      // empty when no track is loaded
    std::string long_name;
    Terrain *terrain;
    TrackLighting lighting;
    std::vector<Flare> flares;
    std::vector<Billboard> billboards;
    std::vector<Statue> statues;
    FlaggerSet flaggers;
    std::vector<TrackCamera> cameras;
    int gate_camera[TRACK_GATE_CAMERAS];    // checkpoint -> camera, -1 = none
    unsigned map_texture;                   // "map.png"
    int particle_first;                     // first of the TRACK_PARTICLES billboards
    int billboard_file_first;               // billboards from here on are saved
    int statue_file_first;                  // statues from here on are saved
    std::vector<int> grid[TRACK_GRID][TRACK_GRID];  // [z cell][x cell]: statue indices
    uint8_t hash[TRACK_HASH_SIZE];
};

// The renderer and loading screen, as seen from here. Every member may be null.
struct TrackHooks {
    unsigned (*load_texture)(const char *name);     // 0 = not loaded
    void *(*load_model)(const char *name);          // null = not loaded
    void (*show_progress)(const char *text);        // title / loading screen line
    unsigned long (*texture_memory)();              // bytes used, for --debug lines
    bool normal_maps;           // the renderer draws statues with normal/specular maps
    int render_mode;            // passed to load_terrain
};

// Copies the hooks; null restores the do-nothing defaults.
void track_set_hooks(const TrackHooks *hooks);

const Track &track();
Track &track_edit();

// Loads "@" + directory; 1 on success, 0 when the terrain cannot be loaded (the
// track is then left empty, with no directory).
int load_track(const char *directory);
void free_track();
// The object tables only (billboards, statues, flaggers, cameras, flares, grid).
void free_track_objects();

int track_camera_count();
Terrain *track_terrain();
const char *track_directory();      // null when none is loaded
const char *track_long_name();
const uint8_t *track_hash();        // TRACK_HASH_SIZE bytes

// Both return the new index (or the last one when the table is full, -1 if empty).
int create_billboard(float x, float height, float z, float size_a, float size_b,
                     const char *texture);
int create_statue(float x, float height, float z, float angle, const char *model,
                  const char *texture, const char *shape);

// Write the objects from the track's "billboards" / "statues" files (and those
// created after them) back into the track directory in the home folder.
bool save_billboards();
bool save_statues();

// Registers every statue with a shape in the collision grid again.
void rebuild_collision_grid();
// Statues whose grid cells lie within TRACK_NEAR_DISTANCE of (x, z), each once,
// in increasing order.
void statues_near(float x, float z, std::vector<int> *out);
// The same list, built in out's own storage: a caller that keeps out between
// calls allocates nothing once it has grown (the contacts call this every tick).
void statues_near_into(float x, float z, std::vector<int> *out);
// The grid cell of a world coordinate along either axis.
int collision_grid_cell(float v);

// The names tried for a statue's normal ("norm") or specular ("spec") map, in the
// order they are tried. The model name may be null.
std::vector<std::string> statue_map_candidates(const char *texture, const char *model,
                                               const char *kind);
