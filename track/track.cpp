// Track loading and unloading: the fixed order of the load, the track hash over
// the files that matter for racing, the hooks into the renderer and the small
// queries about the loaded track. The object files are read in track_objects.cpp,
// the lighting file in track_lighting.cpp.
#include "track/track.h"

#include <algorithm>
#include <cstring>

#include <nettle/ripemd160.h>

#include "core/common.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "core/options.h"
#include "platform/vrak.h"
#include "track/gates.h"
#include "track/shape.h"
#include "track/terrain.h"
#include "track/track_local.h"

static Track empty_track()
{
    Track t{};
    for (int i = 0; i < TRACK_GATE_CAMERAS; i++)
        t.gate_camera[i] = -1;
    return t;
}

static struct {
    Track track = empty_track();
    TrackHooks hooks{};
} module;

void track_set_hooks(const TrackHooks *hooks)
{
    module.hooks = hooks ? *hooks : TrackHooks{};
}

const TrackHooks &track_hooks()
{
    return module.hooks;
}

unsigned track_load_texture(const char *name)
{
    if (!name || !name[0] || !module.hooks.load_texture)
        return 0;
    return module.hooks.load_texture(name);
}

void *track_load_model(const char *name)
{
    if (!name || !name[0] || !module.hooks.load_model)
        return nullptr;
    return module.hooks.load_model(name);
}

const Track &track()
{
    return module.track;
}

Track &track_edit()
{
    return module.track;
}

int track_camera_count()
{
    return (int)module.track.cameras.size();
}

Terrain *track_terrain()
{
    return module.track.terrain;
}

const char *track_directory()
{
    return module.track.directory.empty() ? nullptr : module.track.directory.c_str();
}

const char *track_long_name()
{
    return module.track.long_name.c_str();
}

const uint8_t *track_hash()
{
    return module.track.hash;
}

std::string track_file_name(const char *directory, const char *file)
{
    return std::string("@") + directory + "/" + file;
}

bool track_read_line(DataFile *file, std::string *line)
{
    // Lines longer than this carry nothing any track file needs; the rest of such
    // a line is skipped so it cannot grow without bound.
    const size_t longest = 65536;
    line->clear();
    int c = data_getc(file);
    if (c == DATA_EOF)
        return false;
    while (c != DATA_EOF && c != '\n') {
        if (line->size() < longest)
            line->push_back((char)c);
        c = data_getc(file);
    }
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return true;
}

// Feeds a whole data file to the hash; an absent file adds nothing.
static void hash_file(ripemd160_ctx *ctx, const std::string &name)
{
    DataFile *file = data_open(name.c_str(), "rb");
    if (!file)
        return;
    uint8_t buffer[16384];
    size_t n;
    while ((n = data_read(file, buffer, sizeof buffer)) > 0)
        ripemd160_update(ctx, n, buffer);
    data_close(file);
}

static void show_progress(const char *text)
{
    if (module.hooks.show_progress)
        module.hooks.show_progress(text);
}

static void log_texture_memory(const char *stage)
{
    if (startup_options().debug < 1)
        return;
    unsigned long bytes = module.hooks.texture_memory ? module.hooks.texture_memory() : 0;
    vrak_log("%lu bytes texture memory used after %s creation\n", bytes, stage);
}

// Every distinct collision shape file of the statue table, in table order.
static void hash_shape_files(ripemd160_ctx *ctx)
{
    std::vector<const char *> seen;     // interned, so equal names are equal pointers
    for (const Statue &s : module.track.statues) {
        if (!s.shape_name)
            continue;
        bool done = false;
        for (const char *name : seen)
            done = done || name == s.shape_name;
        if (done)
            continue;
        seen.push_back(s.shape_name);
        hash_file(ctx, s.shape_name);
    }
}

int load_track(const char *directory)
{
    if (!directory || !directory[0])
        return 0;
    const std::string dir = directory;    // the caller's text may live in the old track
    Track &t = module.track;
    if (t.terrain || !t.directory.empty())
        free_track();

    t.directory = dir;
    t.long_name = dir;
    for (const TrackEntry &entry : track_list()) {
        if (entry.directory == dir) {
            t.long_name = entry.display_name;
            break;
        }
    }

    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    reset_track_objects();
    show_progress("Loading track...");

    static const char *const terrain_files[] = {"terrain.hf", "terrain.png", "texturelist",
                                                "tilemap", "tileinfo"};
    for (const char *file : terrain_files)
        hash_file(&ctx, track_file_name(dir.c_str(), file));
    if (startup_options().debug >= 1)
        vrak_log("Loading '%s'\n", ("@" + dir).c_str());

    read_lighting(dir.c_str(), &t.lighting);

    t.terrain = load_terrain(dir.c_str(), module.hooks.render_mode);
    if (!t.terrain) {
        reset_track_objects();
        t.directory.clear();
        t.long_name.clear();
        return 0;
    }
    for (int i = 0; i < 3; i++) {
        t.terrain->lighting.sun_vector[i] = t.lighting.sun_vector[i];
        t.terrain->lighting.sun_color[i] = t.lighting.sun_color[i];
        t.terrain->lighting.ambient[i] = t.lighting.ambient[i];
    }
    log_texture_memory("hf");

    hash_file(&ctx, track_file_name(dir.c_str(), "timing_gates"));
    load_timing_gates(dir.c_str());

    t.particle_first = (int)t.billboards.size();
    for (int i = 0; i < TRACK_PARTICLES; i++)
        create_billboard(0, 0, 0, 1, 1, nullptr);

    read_flaggers(dir.c_str());
    log_texture_memory("flagger");

    t.billboard_file_first = (int)t.billboards.size();
    t.statue_file_first = (int)t.statues.size();
    read_billboards(dir.c_str());
    log_texture_memory("billboard");

    hash_file(&ctx, track_file_name(dir.c_str(), "statues"));
    read_statues(dir.c_str());
    log_texture_memory("statue");

    t.map_texture = track_load_texture(track_file_name(dir.c_str(), "map.png").c_str());
    rebuild_collision_grid();

    hash_shape_files(&ctx);
    uint8_t digest[TRACK_HASH_SIZE];
    ripemd160_digest(&ctx, TRACK_HASH_SIZE, digest);

    read_cameras(dir.c_str());
    memcpy(t.hash, digest, TRACK_HASH_SIZE);
    return 1;
}

void free_track_objects()
{
    reset_track_objects();
}

void free_track()
{
    vrak_log("Deallocating track\n");
    Track &t = module.track;
    free_timing_gates();
    free_track_objects();
    if (t.terrain)
        free_terrain(t.terrain);
    t.terrain = nullptr;
    t.directory.clear();
    t.long_name.clear();
    t.map_texture = 0;
    memset(t.hash, 0, sizeof t.hash);
    vrak_log("Finished deallocating track\n");
}

void statues_near_into(float x, float z, std::vector<int> *out)
{
    const Track &t = track();
    out->clear();
    // Room for every entry of the grid, so the list never grows during a race.
    size_t entries = 0;
    for (const auto &row : t.grid)
        for (const std::vector<int> &cell : row)
            entries += cell.size();
    if (out->capacity() < entries)
        out->reserve(entries);
    int x0 = collision_grid_cell(x - TRACK_NEAR_DISTANCE);
    int x1 = collision_grid_cell(x + TRACK_NEAR_DISTANCE);
    int z0 = collision_grid_cell(z - TRACK_NEAR_DISTANCE);
    int z1 = collision_grid_cell(z + TRACK_NEAR_DISTANCE);
    for (int gz = z0; gz <= z1; gz++)
        for (int gx = x0; gx <= x1; gx++)
            out->insert(out->end(), t.grid[gz][gx].begin(), t.grid[gz][gx].end());
    // A statue spanning several cells is listed in each; sorting in place keeps
    // one of each without a table of flags.
    std::sort(out->begin(), out->end());
    out->erase(std::unique(out->begin(), out->end()), out->end());
}
