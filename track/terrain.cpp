// Loading, saving and freeing a terrain. The files of a track directory:
//
// terrain.hf (binary mode): a text header "%d %f %f %f" (k, cell size in ft, lowest
//   and highest height) and white space, then either ':' followed by N × N
//   little-endian unsigned 16-bit samples (rows of increasing z, each of increasing
//   x), or anything else, in which case the samples come from terrain.png (16-bit
//   grey; sample (i, j) is pixel (min(i, w − 1), min(j, h − 1))). A sample v is the
//   height lowest + v × (highest − lowest) / 65535. N = 2^(k+1) + 1.
// shadingx2.ppm: N × N RGB, the baked lighting at half intensity, used as it is;
//   without it shading.ppm holds the same at full intensity and is halved.
// shadows.pgm (optional): N × N shadow light values; stored inverted (255 − v).
// tileinfo or texturelist: the tile types (terrain_tiles.cpp).
// tilemap: M × M raw bytes, tile type per 2 × 2 cells, row = z; M = 2^k.
// decals (optional): records "[ x z ] angle size aspect texture" until one fails.
#include "track/terrain_local.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nettle/ripemd160.h>

#include "core/common.h"
#include "core/datafile.h"
#include "core/image.h"
#include "core/options.h"
#include "platform/vrak.h"

TerrainLighting default_terrain_lighting()
{
    const float s = 0.57735027f;   // 1/√3
    return {{s, s, s}, {1, 1, 1}, {0.5f, 0.5f, 0.5f}};
}

static std::string track_file(const Terrain *t, const char *file)
{
    return "@" + t->directory + "/" + file;
}

// ---------------------------------------------------------------------------
// Heights

struct HeightDigest {
    bool active;                    // only "--super-debug" logs it
    ripemd160_ctx ctx;
};

static void digest_samples(HeightDigest *d, const uint16_t *v, int count)
{
    if (!d->active)
        return;
    uint8_t bytes[2];
    for (int i = 0; i < count; i++) {
        bytes[0] = (uint8_t)(v[i] & 0xff);
        bytes[1] = (uint8_t)(v[i] >> 8);
        ripemd160_update(&d->ctx, 2, bytes);
    }
}

static bool read_height_header(Terrain *t, DataFile *file)
{
    int k = 0;
    float cell = 0, low = 0, high = 0;
    int got = data_scanf(file, "%d %f %f %f ", &k, &cell, &low, &high);
    // A k beyond the largest field would ask for more memory than exists; a cell
    // that is not positive makes no field at all.
    if (got != 4 || k < TERRAIN_MIN_SIZE_LOG2 || k > TERRAIN_MAX_SIZE_LOG2 ||
        !std::isfinite(cell) || !(cell > 0) || !std::isfinite(low) || !std::isfinite(high) ||
        fabsf(low) > 1e30f || fabsf(high) > 1e30f || cell > 1e30f) {
        vrak_log("Bad height field parameters\n");
        vrak_log("Error reading heights\n");
        return false;
    }
    t->size_log2 = k;
    t->grid_size = (1 << (k + 1)) + 1;
    t->cell = cell;
    t->extent = (float)(t->grid_size - 1) * cell;
    t->min_height = low;
    t->max_height = high;
    t->tile_map_size = 1 << k;
    return true;
}

static float sample_height(const Terrain *t, uint16_t v)
{
    return t->min_height + (float)v * (t->max_height - t->min_height) / 65535.0f;
}

static bool read_heights(Terrain *t)
{
    std::string name = track_file(t, "terrain.hf");
    DataFile *file = data_open(name.c_str(), "rb");
    if (!file) {
        vrak_log("Can't open '%.950s'\n", name.c_str());
        return false;
    }
    if (!read_height_header(t, file)) {
        data_close(file);
        return false;
    }
    int n = t->grid_size;
    t->heights.assign((size_t)n * n, t->min_height);
    HeightDigest digest;
    digest.active = startup_options().debug >= 2;
    if (digest.active)
        ripemd160_init(&digest.ctx);

    std::vector<uint16_t> row(n);
    if (data_getc(file) == ':') {
        std::vector<uint8_t> bytes((size_t)n * 2);
        for (int j = 0; j < n; j++) {
            if (data_read(file, bytes.data(), bytes.size()) != bytes.size()) {
                vrak_log("Error reading heights\n");
                data_close(file);
                return false;
            }
            for (int i = 0; i < n; i++) {
                row[i] = (uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
                t->heights[(size_t)j * n + i] = sample_height(t, row[i]);
            }
            digest_samples(&digest, row.data(), n);
        }
    } else {
        HeightImage image;
        if (read_png_grey16(track_file(t, "terrain.png").c_str(), &image)) {
            for (int j = 0; j < n; j++) {
                const uint16_t *src =
                    image.samples.data() + (size_t)std::min(j, image.height - 1) * image.width;
                for (int i = 0; i < n; i++) {
                    row[i] = src[std::min(i, image.width - 1)];
                    t->heights[(size_t)j * n + i] = sample_height(t, row[i]);
                }
                digest_samples(&digest, row.data(), n);
            }
        }
    }
    data_close(file);

    if (digest.active) {
        uint8_t hash[RIPEMD160_DIGEST_SIZE];
        ripemd160_digest(&digest.ctx, RIPEMD160_DIGEST_SIZE, hash);
        char text[2 * RIPEMD160_DIGEST_SIZE + 1];
        for (int i = 0; i < RIPEMD160_DIGEST_SIZE; i++)
            snprintf(text + 2 * i, 3, "%02x", hash[i]);
        vrak_log("%s\n", text);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Shading and shadows

static bool read_shading(Terrain *t)
{
    bool halve = false;
    std::string name = track_file(t, "shadingx2.ppm");
    DataFile *file = data_open(name.c_str(), "rb");
    if (!file) {
        halve = true;
        name = track_file(t, "shading.ppm");
        file = data_open(name.c_str(), "rb");
        if (!file) {
            vrak_log("Can't open '%.950s'\n", name.c_str());
            return false;
        }
    }
    char magic[16];
    ImageChain image;
    bool ok = read_image_magic(file, magic) && read_ppm(file, magic, &image);
    data_close(file);
    if (!ok) {
        vrak_log("Error reading shading\n");
        return false;
    }
    int n = t->grid_size;
    if (image.width != n || image.height != n) {
        vrak_log("Bad shading dimensions (%dx%d)\n", image.width, image.height);
        return false;
    }
    t->shading.swap(image.pixels);
    if (halve) {
        for (uint8_t &b : t->shading)
            b >>= 1;
    }
    return true;
}

static bool read_shadows(Terrain *t)
{
    int n = t->grid_size;
    t->shadows.assign((size_t)n * n, 0);
    t->has_shadow_file = false;
    DataFile *file = data_open(track_file(t, "shadows.pgm").c_str(), "rb");
    if (!file)
        return true;
    GreyImage image;
    bool ok = read_pgm(file, &image);
    data_close(file);
    if (!ok) {
        vrak_log("Error reading shadows\n");
        return false;
    }
    if (image.width != n || image.height != n) {
        vrak_log("Bad shadow dimensions (%dx%d)\n", image.width, image.height);
        return false;
    }
    for (size_t i = 0; i < t->shadows.size(); i++)
        t->shadows[i] = (uint8_t)(255 - image.pixels[i]);
    t->has_shadow_file = true;
    return true;
}

// ---------------------------------------------------------------------------
// Tile map and decals

static bool read_tile_map(Terrain *t)
{
    std::string name = track_file(t, "tilemap");
    DataFile *file = data_open(name.c_str(), "rb");
    if (!file) {
        vrak_log("Can't open '%.950s'\n", name.c_str());
        return false;
    }
    int m = t->tile_map_size;
    t->tile_map.assign((size_t)m * m, 0);
    size_t got = data_read(file, t->tile_map.data(), t->tile_map.size());
    data_close(file);
    if (got != t->tile_map.size()) {
        vrak_log("Error reading tilemap\n");
        return false;
    }
    uint8_t highest = (uint8_t)(t->tile_count - 1);
    for (uint8_t &b : t->tile_map)
        b = std::min(b, highest);
    return true;
}

static void read_decals(Terrain *t)
{
    t->decals.clear();
    DataFile *file = data_open(track_file(t, "decals").c_str(), "rb");
    if (!file)
        return;
    for (;;) {
        Decal d = {};
        char texture[1024];
        if (data_scanf(file, " [ %f %f ] %f %f %f %1023s ", &d.x, &d.z, &d.angle, &d.size,
                       &d.aspect, texture) != 6)
            break;
        // A value that is not a number would poison the renderer's decal index.
        if (!std::isfinite(d.x) || !std::isfinite(d.z) || !std::isfinite(d.angle) ||
            !std::isfinite(d.size) || !std::isfinite(d.aspect))
            continue;
        d.sine = sinf(d.angle);
        d.cosine = cosf(d.angle);
        d.texture = intern_string(texture);
        t->decals.push_back(d);
    }
    data_close(file);
}

// ---------------------------------------------------------------------------
// Load and free

Terrain *load_terrain(const char *directory, int render_mode)
{
    if (!directory)
        return nullptr;
    Terrain *t = new Terrain();
    t->directory = directory;
    t->render_mode = render_mode;
    t->lighting = default_terrain_lighting();
    if (!read_heights(t) || !read_shading(t) || !read_shadows(t) || !terrain_read_tiles(t) ||
        !read_tile_map(t)) {
        free_terrain(t);
        return nullptr;
    }
    bool shaders =
        render_mode == TERRAIN_RENDER_SHADERS_COPY || render_mode == TERRAIN_RENDER_SHADERS_DIRECT;
    if (shaders) {
        int n = t->grid_size;
        t->normals.assign((size_t)n * n * 3, 0);
        for (int j = 0; j < n; j++) {
            for (int i = 0; i < n; i++)
                terrain_store_normal(t, i, j);
        }
    }
    read_decals(t);
    return t;
}

void free_terrain(Terrain *t)
{
    delete t;
}

// ---------------------------------------------------------------------------
// Save (track editor)

// Each file is written to name + ".part" first; only when every file is complete
// are they renamed over the old ones, so a failed save leaves the track as it was.
struct SaveBatch {
    std::vector<std::string> written;   // final names whose ".part" is complete
};

static DataFile *begin_file(const Terrain *t, const char *file)
{
    std::string temp = track_file(t, file) + ".part";
    DataFile *out = data_open(temp.c_str(), "wb");
    if (!out) {
        char text[64];
        snprintf(text, sizeof text, "Can't open '%s'", file);
        game_message(text);
    }
    return out;
}

static bool end_file(SaveBatch *batch, const Terrain *t, const char *file, DataFile *out,
                     bool ok)
{
    ok = data_flush(out) && ok;
    data_close(out);
    std::string name = track_file(t, file);
    if (!ok) {
        data_remove((name + ".part").c_str());
        return false;
    }
    batch->written.push_back(name);
    return true;
}

static bool write_ppm(SaveBatch *batch, const Terrain *t, const char *file, bool doubled)
{
    DataFile *out = begin_file(t, file);
    if (!out)
        return false;
    int n = t->grid_size;
    bool ok = data_printf(out, "P6\n%d %d\n255\n", n, n) > 0;
    std::vector<uint8_t> bytes(t->shading);
    if (doubled) {
        for (uint8_t &b : bytes)
            b = (uint8_t)std::min(255, b * 2);
    }
    ok = ok && data_write(out, bytes.data(), bytes.size()) == bytes.size();
    return end_file(batch, t, file, out, ok);
}

static bool write_text_files(SaveBatch *batch, const Terrain *t)
{
    DataFile *out = begin_file(t, "terrain.hf");
    if (!out)
        return false;
    bool ok = data_printf(out, "%d %f %f %f\n", t->size_log2, t->cell, t->min_height,
                          t->max_height) > 0;
    if (!end_file(batch, t, "terrain.hf", out, ok))
        return false;
    if (!write_ppm(batch, t, "shading.ppm", true) || !write_ppm(batch, t, "shadingx2.ppm", false))
        return false;

    out = begin_file(t, "tilemap");
    if (!out)
        return false;
    ok = data_write(out, t->tile_map.data(), t->tile_map.size()) == t->tile_map.size();
    if (!end_file(batch, t, "tilemap", out, ok))
        return false;

    out = begin_file(t, "decals");
    if (!out)
        return false;
    ok = true;
    for (const Decal &d : t->decals) {
        ok = ok && data_printf(out, "[%f %f] %f %f %f %s\n", d.x, d.z, d.angle, d.size,
                               d.aspect, d.texture) > 0;
    }
    return end_file(batch, t, "decals", out, ok);
}

bool save_terrain(Terrain *t)
{
    if (!t || t->heights.empty())
        return false;
    auto range = std::minmax_element(t->heights.begin(), t->heights.end());
    t->min_height = *range.first;
    t->max_height = *range.second;
    float span = t->max_height - t->min_height;

    SaveBatch batch;
    bool ok = write_text_files(&batch, t);
    if (ok) {
        // A flat field has no span to divide by; every sample is then 0.
        std::vector<uint16_t> samples(t->heights.size(), 0);
        if (span > 0) {
            for (size_t i = 0; i < samples.size(); i++) {
                double v = (t->heights[i] - t->min_height) / span * 65535.0 + 0.5;
                samples[i] = (uint16_t)std::clamp(v, 0.0, 65535.0);
            }
        }
        // The PNG writer replaces its target only once complete.
        ok = write_png_grey16(track_file(t, "terrain.png").c_str(), samples.data(),
                              t->grid_size, t->grid_size);
        if (!ok)
            game_message("Can't open 'terrain.png'");
    }
    for (const std::string &name : batch.written) {
        std::string temp = name + ".part";
        if (ok)
            ok = data_rename(temp.c_str(), name.c_str());
        else
            data_remove(temp.c_str());
    }
    return ok;
}
