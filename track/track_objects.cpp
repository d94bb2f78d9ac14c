// The track's objects: billboards, statues (with the collision grid over them),
// flaggers and TV cameras, their files and the editor's saves of the first two.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "platform/vrak.h"
#include "track/gates.h"
#include "track/shape.h"
#include "track/terrain.h"
#include "track/track_local.h"

static float ground_height(float x, float z)
{
    const Terrain *terrain = track().terrain;
    return terrain ? terrain_height(terrain, x, z) : 0.0f;
}

// "null" in the object files stands for no file.
static const char *optional_name(const char *name)
{
    if (!name || !name[0] || strcmp(name, "null") == 0)
        return nullptr;
    return intern_string(name);
}

void reset_track_objects()
{
    Track &t = track_edit();
    for (Statue &s : t.statues)
        free_shape(s.shape);
    std::vector<Statue>().swap(t.statues);
    std::vector<Billboard>().swap(t.billboards);
    std::vector<TrackCamera>().swap(t.cameras);
    std::vector<Flare>().swap(t.flares);
    t.flaggers = FlaggerSet{};
    for (int i = 0; i < TRACK_GATE_CAMERAS; i++)
        t.gate_camera[i] = -1;
    for (auto &row : t.grid)
        for (std::vector<int> &cell : row)
            std::vector<int>().swap(cell);
    t.particle_first = 0;
    t.billboard_file_first = 0;
    t.statue_file_first = 0;
}

// ---------------------------------------------------------------------------
// Billboards

static bool hex_digit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int create_billboard(float x, float height, float z, float size_a, float size_b,
                     const char *texture)
{
    Track &t = track_edit();
    if (t.billboards.size() >= TRACK_MAX_BILLBOARDS)
        return (int)t.billboards.size() - 1;

    Billboard b{};
    b.x = x;
    b.z = z;
    b.height = height;
    b.y = ground_height(x, z) + height;
    b.size_a = size_a;
    b.size_b = size_b;
    b.tint[0] = b.tint[1] = b.tint[2] = b.tint[3] = 255;
    // "#rrggbb#name" tints the picture; anything shorter is a plain name.
    if (texture && strlen(texture) >= 8 && texture[0] == '#' && texture[7] == '#') {
        bool hex = true;
        for (int i = 1; i < 7; i++)
            hex = hex && hex_digit(texture[i]);
        if (hex) {
            unsigned colour = (unsigned)strtoul(std::string(texture + 1, 6).c_str(), nullptr, 16);
            b.tint[0] = (uint8_t)(colour >> 16);
            b.tint[1] = (uint8_t)(colour >> 8);
            b.tint[2] = (uint8_t)colour;
            texture += 8;
        }
    }
    b.texture_name = texture && texture[0] ? intern_string(texture) : nullptr;
    b.texture = track_load_texture(b.texture_name);
    t.billboards.push_back(b);
    return (int)t.billboards.size() - 1;
}

// "billboards": records "[ x height z ] size_a size_b texture" until one fails to
// read; height is above the ground, texture may carry a tint as "#rrggbb#name".
void read_billboards(const char *directory)
{
    DataFile *file = data_open(track_file_name(directory, "billboards").c_str(), "rb");
    if (!file)
        return;
    float x, h, z, a, b;
    char name[1024];
    while (data_scanf(file, "[ %f %f %f ] %f %f %1023s ", &x, &h, &z, &a, &b, name) == 6)
        create_billboard(x, h, z, a, b, name);
    data_close(file);
}

// Writes to a temporary file next to the target and renames it over the old one,
// so a failed write never leaves a truncated file behind.
static bool save_objects(const char *file_name, bool (*write)(DataFile *file))
{
    const char *directory = track_directory();
    const char *home = home_dir();
    std::string target = directory ? track_file_name(directory, file_name) : std::string();
    std::string temp = target + ".part";
    DataFile *file = nullptr;
    if (directory && home) {
        std::error_code ec;
        std::filesystem::create_directories(std::string(home) + directory, ec);
        file = data_open(temp.c_str(), "wb");
    }
    if (!file) {
        char message[64];
        snprintf(message, sizeof message, "Can't open '%s'\n", file_name);
        game_message(message);
        return false;
    }
    bool ok = write(file);
    ok = data_flush(file) && ok;
    data_close(file);
    if (!ok || !data_rename(temp.c_str(), target.c_str())) {
        data_remove(temp.c_str());
        return false;
    }
    return true;
}

static bool write_billboards(DataFile *file)
{
    const Track &t = track();
    bool ok = true;
    for (size_t i = t.billboard_file_first; i < t.billboards.size(); i++) {
        const Billboard &b = t.billboards[i];
        if (!b.texture_name)
            continue;
        ok = data_printf(file, "[%f %f %f] %f %f ", b.x, b.height, b.z, b.size_a, b.size_b) >
             0 && ok;
        if (b.tint[0] != 255 || b.tint[1] != 255 || b.tint[2] != 255)
            ok = data_printf(file, "#%02x%02x%02x#%s\n", b.tint[0], b.tint[1], b.tint[2],
                             b.texture_name) > 0 && ok;
        else
            ok = data_printf(file, "%s\n", b.texture_name) > 0 && ok;
    }
    return ok;
}

bool save_billboards()
{
    return save_objects("billboards", write_billboards);
}

// ---------------------------------------------------------------------------
// Statues

static std::string without_extension(const char *name)
{
    const char *dot = strrchr(name, '.');
    const char *slash = strrchr(name, '/');
    if (!dot || (slash && dot < slash))
        return name;
    return std::string(name, dot - name);
}

std::vector<std::string> statue_map_candidates(const char *texture, const char *model,
                                               const char *kind)
{
    static const char *const extensions[] = {".seq", ".png", ".ppm"};
    std::vector<std::string> names;
    if (texture && texture[0]) {
        std::string base = without_extension(texture);
        const std::string repeat = "-repeat";
        std::string suffix = std::string("_") + kind;
        if (base.size() > repeat.size() &&
            base.compare(base.size() - repeat.size(), repeat.size(), repeat) == 0) {
            base.resize(base.size() - repeat.size());
            suffix += repeat;
        }
        for (const char *ext : extensions)
            names.push_back(base + suffix + ext);
    }
    if (model && model[0]) {
        std::string base = without_extension(model);
        for (const char *ext : extensions)
            names.push_back(base + "_" + kind + ext);
    }
    return names;
}

static unsigned find_map(const char *texture, const char *model, const char *kind)
{
    for (const std::string &name : statue_map_candidates(texture, model, kind)) {
        unsigned handle = track_load_texture(name.c_str());
        if (handle)
            return handle;
    }
    return 0;
}

static void normalise(float v[3])
{
    float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0 && std::isfinite(length))
        for (int i = 0; i < 3; i++)
            v[i] /= length;
}

static void cross(const float a[3], const float b[3], float out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// Upright statues turned by the angle lean with the ground under them; angles
// from 3.25 up face the viewer and keep the identity; angles at or below -2 pi
// turn without leaning.
static void statue_orientation(Statue *s)
{
    float (*m)[3] = s->orientation;
    memset(s->orientation, 0, sizeof s->orientation);
    if (s->angle >= 3.25f) {
        m[0][0] = m[1][1] = m[2][2] = 1;
        return;
    }
    float first[3] = {std::cos(s->angle), 0, -std::sin(s->angle)};
    float up[3] = {0, 1, 0};
    if (s->angle > -2 * (float)M_PI) {
        float h = ground_height(s->x, s->z);
        up[0] = -(ground_height(s->x + 1, s->z) - h);
        up[2] = -(ground_height(s->x, s->z + 1) - h);
        normalise(up);
    }
    float third[3];
    cross(first, up, third);
    normalise(third);
    cross(up, third, first);
    normalise(first);
    for (int i = 0; i < 3; i++) {
        m[0][i] = first[i];
        m[1][i] = up[i];
        m[2][i] = third[i];
    }
}

int create_statue(float x, float height, float z, float angle, const char *model,
                  const char *texture, const char *shape)
{
    Track &t = track_edit();
    if (t.statues.size() >= TRACK_MAX_STATUES)
        return (int)t.statues.size() - 1;

    Statue s{};
    s.model_name = model && model[0] ? intern_string(model) : nullptr;
    s.texture_name = texture && texture[0] ? intern_string(texture) : nullptr;
    s.shape_name = shape && shape[0] ? intern_string(shape) : nullptr;
    s.x = x;
    s.z = z;
    s.height = height;
    s.angle = angle;
    s.face_viewer = angle >= 3.25f ? std::pow(2.0f, angle) : 0.0f;
    s.last_touched_frame = -1;

    s.model = track_load_model(s.model_name);
    if (s.model_name && s.texture_name) {
        s.texture = track_load_texture(s.texture_name);
        if (track_hooks().normal_maps) {
            s.normal_map = find_map(s.texture_name, s.model_name, "norm");
            s.specular_map = find_map(s.texture_name, s.model_name, "spec");
        }
    }
    if (s.shape_name) {
        s.shape = load_shape(s.shape_name);
        if (!s.shape) {
            char message[1024];
            snprintf(message, sizeof message, "Warning: missing shape file %.900s", s.shape_name);
            game_message(message);
        }
    }
    s.y = ground_height(x, z) + height;
    statue_orientation(&s);
    t.statues.push_back(s);
    return (int)t.statues.size() - 1;
}

// "statues": records "[ x height z ] angle model texture shape" until one fails
// to read; "null" names no file.
void read_statues(const char *directory)
{
    DataFile *file = data_open(track_file_name(directory, "statues").c_str(), "rb");
    if (!file)
        return;
    float x, h, z, angle;
    char model[1024], texture[1024], shape[1024];
    while (data_scanf(file, "[ %f %f %f ] %f %1023s %1023s %1023s ", &x, &h, &z, &angle, model,
                      texture, shape) == 7)
        create_statue(x, h, z, angle, optional_name(model), optional_name(texture),
                      optional_name(shape));
    data_close(file);
}

static bool write_statues(DataFile *file)
{
    const Track &t = track();
    bool ok = true;
    for (size_t i = t.statue_file_first; i < t.statues.size(); i++) {
        const Statue &s = t.statues[i];
        ok = data_printf(file, "[%f %f %f] %f %s %s %s\n", s.x, s.height, s.z, s.angle,
                         s.model_name ? s.model_name : "null",
                         s.texture_name ? s.texture_name : "null",
                         s.shape_name ? s.shape_name : "null") > 0 && ok;
    }
    return ok;
}

bool save_statues()
{
    return save_objects("statues", write_statues);
}

// ---------------------------------------------------------------------------
// Collision grid: 8 x 8 cells over the central three quarters of the terrain

int collision_grid_cell(float v)
{
    const Terrain *terrain = track().terrain;
    float extent = terrain && terrain->extent > 0 ? terrain->extent : 1.0f;
    float cell = std::floor((v / extent - 0.125f) * (4.0f / 3.0f) * (float)TRACK_GRID);
    if (!(cell >= 0))
        return 0;
    return cell > TRACK_GRID - 1 ? TRACK_GRID - 1 : (int)cell;
}

void rebuild_collision_grid()
{
    Track &t = track_edit();
    for (auto &row : t.grid)
        for (std::vector<int> &cell : row)
            cell.clear();
    for (size_t i = 0; i < t.statues.size(); i++) {
        const Statue &s = t.statues[i];
        if (!s.shape)
            continue;
        float r = shape_bounding_radius(s.shape);
        int x0 = collision_grid_cell(s.x - r), x1 = collision_grid_cell(s.x + r);
        int z0 = collision_grid_cell(s.z - r), z1 = collision_grid_cell(s.z + r);
        for (int gz = z0; gz <= z1; gz++)
            for (int gx = x0; gx <= x1; gx++)
                t.grid[gz][gx].push_back((int)i);
    }
}

void statues_near(float x, float z, std::vector<int> *out)
{
    statues_near_into(x, z, out);
}
