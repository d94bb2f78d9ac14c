// The track generator: a small text description of a course in, a whole track
// directory out. The description is read by trackgen_desc.cpp, the course (centre
// line, ground, surfaces, timing) is designed by trackgen_course.cpp and every file
// of the directory is written by trackgen_write.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum {
    TRACKGEN_TILE_GRASS = 0,
    TRACKGEN_TILE_HARDPACK = 1,
    TRACKGEN_TILE_LOAM = 2,
    TRACKGEN_TILE_SAND = 3,
    TRACKGEN_TILE_MUD = 4,
    TRACKGEN_TILE_COUNT = 5,
};

enum TrackFeatureKind { FEATURE_DOUBLE, FEATURE_TABLETOP, FEATURE_WHOOPS };

struct TrackPoint {
    float x, z;
    float width;        // course width, ft
    float bank;         // berm angle in turns, degrees
};

struct TrackFeature {
    TrackFeatureKind kind;
    float from, to;     // distance along the centre line, ft
    float height;       // ft
};

struct TrackSurface {
    float from, to;
    int tile;
};

struct TrackObjectRange {
    float from, to;
    float spacing;      // ft between objects along each edge
};

struct TrackDesc {
    std::string dir;                // track directory name
    std::string name;               // display name
    int size_log2 = 8;
    float cell = 1.0f;
    uint32_t hill_seed = 1;
    float hill_height = 0;          // amplitude of the rolling ground, ft
    float hill_wavelength = 400;
    std::vector<TrackPoint> points;
    std::vector<TrackFeature> features;
    std::vector<TrackSurface> surfaces;
    int default_surface = TRACKGEN_TILE_HARDPACK;
    float sun[3] = {0.5f, 0.8f, 0.3f};
    float sun_color[3] = {0.9f, 0.88f, 0.8f};
    float ambient[3] = {0.45f, 0.45f, 0.5f};
    bool fog = false;
    float fog_color[3] = {0.7f, 0.75f, 0.8f};
    float fog_density = 0;
    float start_at = 40;            // distance of the starting gates past the line
    int start_count = 20;
    int start_rows = 2;
    float checkpoint_spacing = 150;
    int camera_count = 4;
    float camera_height = 25;
    int tree_count = 0;
    uint32_t tree_seed = 1;
    std::vector<TrackObjectRange> crowds;
    std::vector<TrackObjectRange> tuffblocks;
    std::vector<TrackObjectRange> banners;
    bool walking_flagger = false;
    float walking_flagger_at = 0;
    bool lap_flagger = false;
    std::vector<float> checkpoint_flaggers;     // distances along the centre line
};

// Reads a description file. On failure returns false with "FILE:LINE: what" in *error.
bool read_track_desc(const char *path, TrackDesc *out, std::string *error);
// The same over text already in memory; `path` only names it in messages.
bool parse_track_desc(const char *path, const std::string &text, TrackDesc *out,
                      std::string *error);

// One sample of the centre line, 1 ft apart (the last one joins the first).
struct CourseSample {
    float x, z;
    float tx, tz;       // unit tangent
    float s;            // distance from the line, ft
    float width;
    float bank;         // signed bank angle, radians: positive raises the right edge
    float height;       // course height at the centre line
};

struct Checkpoint {
    float x, z, dx, dz, radius, s;
};

struct StartGate {
    float x, z, angle;
};

struct RoutePoint {
    float x, z, speed;
};

struct Course {
    const TrackDesc *desc;
    int grid;                           // N samples a side
    float extent;
    float length;                       // centre line length, ft
    std::vector<CourseSample> line;
    std::vector<float> heights;         // N × N, after 16-bit rounding
    std::vector<uint16_t> samples;      // N × N as stored
    float min_height, max_height;
    std::vector<float> lateral;         // N × N signed offset from the line (huge: far)
    std::vector<int> nearest;           // N × N nearest line sample, -1 when far
    std::vector<uint8_t> tile_map;      // M × M
    std::vector<uint8_t> light;         // N × N shadow light values (255 = lit)
    std::vector<uint8_t> shading;       // N × N × 3, half intensity
    std::vector<Checkpoint> checkpoints;   // 0 is the finish line
    std::vector<int> first_lap, normal_lap;
    std::vector<StartGate> start_gates;
    std::vector<RoutePoint> route;
};

// Designs the whole course from a description.
void build_course(const TrackDesc &desc, Course *out);
// The centre line sample nearest to distance s (taken round the loop).
const CourseSample &course_at(const Course &c, float s);
// Extra height of the jumps and whoops at distance s.
float feature_height(const TrackDesc &desc, float s);

// Writes every file of the track directory into outdir/<dir>/. False with a message
// in *error when a file cannot be written.
bool write_track(const Course &course, const char *outdir, std::string *error);
// Description file in, track directory out.
bool generate_track(const char *description, const char *outdir, std::string *error);
