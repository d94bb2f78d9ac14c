// Writes a designed course as a track directory: every file the game reads
// (desc, terrain.hf, tileinfo, tilemap, shadingx2.ppm, shadows.pgm, lighting,
// timing_gates, cameras, billboards, statues, flaggers, map.png, the track
// objects' collision shapes) and "route", the designed racing line, which only our
// tools read. Numbers are written with fixed formats and objects are placed with a
// fixed-seed generator, so the output depends on the description alone.
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <png.h>
#include <random>

#include "tools/shapegen.h"
#include "tools/trackgen.h"

namespace {

struct Writer {
    std::string dir;            // ends in '/'
    std::string *error;
    bool ok;
};

bool write_file(Writer *w, const char *name, const std::string &bytes)
{
    if (!w->ok)
        return false;
    std::string path = w->dir + name;
    FILE *f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && fclose(f) != 0)
        ok = false;
    if (!ok) {
        *w->error = "cannot write " + path;
        w->ok = false;
    }
    return ok;
}

// printf into a growing string.
void put(std::string *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void put(std::string *out, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *out += text;
}

float ground(const Course &c, float x, float z)
{
    int n = c.grid;
    float cell = c.desc->cell;
    int i = std::clamp((int)lroundf(x / cell), 0, n - 1);
    int j = std::clamp((int)lroundf(z / cell), 0, n - 1);
    return c.heights[(size_t)j * n + i];
}

// True when no part of the course (its surface plus `margin`) reaches the point.
bool clear_of_course(const Course &c, float x, float z, float margin)
{
    int n = c.grid;
    float cell = c.desc->cell;
    int i = (int)lroundf(x / cell), j = (int)lroundf(z / cell);
    if (i < 0 || j < 0 || i >= n || j >= n)
        return false;
    size_t idx = (size_t)j * n + i;
    int near = c.nearest[idx];
    return near < 0 || fabsf(c.lateral[idx]) > c.line[near].width * 0.5f + margin;
}

void write_heights(Writer *w, const Course &c)
{
    std::string out;
    put(&out, "%d %.4f %.4f %.4f\n:", c.desc->size_log2, c.desc->cell, c.min_height,
        c.max_height);
    out.reserve(out.size() + c.samples.size() * 2);
    for (uint16_t v : c.samples) {
        out += (char)(v & 0xff);
        out += (char)(v >> 8);
    }
    write_file(w, "terrain.hf", out);

    std::string ppm;
    put(&ppm, "P6\n%d %d\n255\n", c.grid, c.grid);
    ppm.append((const char *)c.shading.data(), c.shading.size());
    write_file(w, "shadingx2.ppm", ppm);
    std::string pgm;
    put(&pgm, "P5\n%d %d\n255\n", c.grid, c.grid);
    pgm.append((const char *)c.light.data(), c.light.size());
    write_file(w, "shadows.pgm", pgm);
    write_file(w, "tilemap", std::string(c.tile_map.begin(), c.tile_map.end()));
}

// Ground physics, in tile order: grass (slippery once the tyre spins, soft to roll
// on, throws little), hard-pack dirt (best grip, fast rolling, slow to rut), loam
// (grip that holds as the tyre spins, deep roost, ruts readily), sand (loose and
// heavy, big roost, deep ruts) and mud (little grip, very heavy, a splash besides
// the dirt). Friction falls as the slip speed grows. The file has no comments.
const char *const TILEINFO =
    "texture @grass.png\n"
    "friction 0.80 2\nfriction 0.68 10\nfriction 0.52 30\n"
    "roll_resist 12 35 1\nroll_resist 18 50 60\n"
    "roost count=4 dig=0.5 r=90 g=120 b=55 size=0.2\n"
    "erode_depth 0.3\n"
    "addtile\n"
    "texture @dirt_hardpack.png\n"
    "friction 1.10 2\nfriction 0.98 8\nfriction 0.85 25\nfriction 0.72 60\n"
    "roll_resist 4 12 1\nroll_resist 6 18 60\n"
    "roost count=6 dig=0.8 r=150 g=122 b=92\n"
    "erode_depth 0.5\nerode_lower 60\nerode_upper 180\n"
    "addtile\n"
    "texture @dirt_loam.png\n"
    "friction 1.00 3\nfriction 0.96 12\nfriction 0.86 30\nfriction 0.76 60\n"
    "roll_resist 8 22 1\nroll_resist 12 30 60\n"
    "roost count=12 dig=1.5 r=112 g=82 b=56\n"
    "erode_depth 1.5\nerode_displacement 2.5\n"
    "addtile\n"
    "texture @sand.png\n"
    "friction 0.82 3\nfriction 0.76 15\nfriction 0.66 40\n"
    "roll_resist 20 60 1\nroll_resist 28 80 60\n"
    "roost count=16 dig=2 r=214 g=194 b=144 size=0.2\n"
    "erode_depth 2.5\nerode_lower 30\nerode_upper 120\nerode_max_slope 0.5\n"
    "addtile\n"
    "texture @mud.png\n"
    "friction 0.55 2\nfriction 0.45 10\nfriction 0.35 30\n"
    "roll_resist 25 70 1\nroll_resist 35 90 60\n"
    "roost count=8 dig=1 r=72 g=56 b=40\n"
    "roost splash=1 count=10 slip_threshold=2 texture=@splash.png r=150 g=140 b=120 "
    "a=200 fade_a=-300\n"
    "erode_depth 2\nerode_lower 40\nerode_upper 120\n"
    "addtile\n";

void write_lighting(Writer *w, const Course &c)
{
    const TrackDesc &d = *c.desc;
    std::string out;
    put(&out, "sun_vector [ %.3f %.3f %.3f ]\n", d.sun[0], d.sun[1], d.sun[2]);
    put(&out, "sun_color [ %.3f %.3f %.3f ]\n", d.sun_color[0], d.sun_color[1], d.sun_color[2]);
    put(&out, "ambient [ %.3f %.3f %.3f ]\n", d.ambient[0], d.ambient[1], d.ambient[2]);
    put(&out, "global_ambient [ 0.200 0.200 0.200 ]\n");
    if (d.fog) {
        put(&out, "fog [ %.3f %.3f %.3f ] %.5f\n", d.fog_color[0], d.fog_color[1],
            d.fog_color[2], d.fog_density);
    }
    put(&out, "far_plane %.1f\n", std::max(2000.0f, c.extent * 2));
    write_file(w, "lighting", out);
}

void write_timing(Writer *w, const Course &c)
{
    std::string out = "startinggate:\n";
    for (const StartGate &g : c.start_gates)
    {
        // y is where the gate object's hinge goes: under the ground 3 ft ahead.
        double hx = g.x - 3 * sin(g.angle), hz = g.z - 3 * cos(g.angle);
        put(&out, "[%.3f %.3f %.3f] %.5f\n", g.x, ground(c, hx, hz) - GATE_HINGE_DEPTH, g.z,
            g.angle);
    }
    out += "checkpoints:\n";
    for (const Checkpoint &k : c.checkpoints) {
        put(&out, "%.3f [%.3f %.3f %.3f] [%.5f 0 %.5f]\n", k.radius, k.x, ground(c, k.x, k.z),
            k.z, k.dx, k.dz);
    }
    out += "firstlap:\n";
    for (int e : c.first_lap)
        put(&out, "%d ", e);
    out += "\nnormallap:\n";
    for (int e : c.normal_lap)
        put(&out, "%d ", e);
    out += "\n";
    write_file(w, "timing_gates", out);
}

// A point beside the course at distance s, `off` ft out from the edge, on whichever
// side is clear of the rest of the course; false when neither is.
bool beside(const Course &c, float s, float off, int prefer, float *x, float *z)
{
    const CourseSample &q = course_at(c, s);
    for (int k = 0; k < 2; k++) {
        float side = (k == 0 ? 1.0f : -1.0f) * (float)prefer;
        float lat = side * (q.width * 0.5f + off);
        *x = q.x - q.tz * lat;
        *z = q.z + q.tx * lat;
        if (clear_of_course(c, *x, *z, off * 0.5f))
            return true;
    }
    return false;
}

void write_cameras(Writer *w, const Course &c)
{
    const TrackDesc &d = *c.desc;
    struct Cam { float x, z; };
    std::vector<Cam> cams;
    for (int k = 0; k < d.camera_count; k++) {
        float x, z;
        if (beside(c, c.length * ((float)k + 0.5f) / (float)d.camera_count, 25, 1, &x, &z))
            cams.push_back({x, z});
    }
    std::vector<std::vector<int>> covers(cams.size());
    for (size_t g = 0; g < c.checkpoints.size() && !cams.empty(); g++) {
        size_t best = 0;
        float best_d = 1e30f;
        for (size_t k = 0; k < cams.size(); k++) {
            float dd = hypotf(cams[k].x - c.checkpoints[g].x, cams[k].z - c.checkpoints[g].z);
            if (dd < best_d)
                best_d = dd, best = k;
        }
        covers[best].push_back((int)g);
    }
    std::string out;
    for (size_t k = 0; k < cams.size(); k++) {
        if (!covers[k].empty()) {
            out += "gate";
            for (int g : covers[k])
                put(&out, " %d", g);
            out += "\n";
        }
        put(&out, "fov 60\naddcamera %.3f %.3f %.3f\n", cams[k].x, d.camera_height, cams[k].z);
    }
    write_file(w, "cameras", out);
}

// Objects along both edges of a stretch of course.
template <typename F>
void along_edges(const Course &c, const TrackObjectRange &r, float off, F place)
{
    for (float s = r.from; s <= r.to; s += r.spacing) {
        const CourseSample &q = course_at(c, s);
        for (int side = -1; side <= 1; side += 2) {
            float lat = (float)side * (q.width * 0.5f + off);
            float x = q.x - q.tz * lat, z = q.z + q.tx * lat;
            if (clear_of_course(c, x, z, off * 0.5f))
                place(q, x, z);
        }
    }
}

void write_objects(Writer *w, const Course &c)
{
    const TrackDesc &d = *c.desc;
    std::string bill;
    std::mt19937 gen(d.tree_seed);
    auto unit = [&gen]() { return (float)(gen() / 4294967296.0); };
    for (int k = 0, tries = 0; k < d.tree_count && tries < d.tree_count * 20; tries++) {
        float x = 10 + unit() * (c.extent - 20), z = 10 + unit() * (c.extent - 20);
        float size = 14 + unit() * 12;
        int kind = (int)(unit() * 3);
        if (!clear_of_course(c, x, z, 30))
            continue;
        put(&bill, "[%.3f 0 %.3f] %.3f %.3f @tree%d.png\n", x, z, size * 0.6f, size, kind + 1);
        k++;
    }
    for (const TrackObjectRange &r : d.crowds) {
        along_edges(c, r, 10, [&](const CourseSample &, float x, float z) {
            put(&bill, "[%.3f 0 %.3f] 6 5 @crowd%d.png\n", x, z, (int)(unit() * 2) + 1);
        });
    }
    write_file(w, "billboards", bill);

    std::string stat;
    for (const TrackObjectRange &r : d.tuffblocks) {
        along_edges(c, r, 3, [&](const CourseSample &q, float x, float z) {
            put(&stat, "[%.3f 0 %.3f] %.5f @tuffblock.vm @tuffblock.png @%s/tuffblock.shp\n", x,
                z, atan2f(-q.tx, -q.tz), d.dir.c_str());
        });
    }
    for (const TrackObjectRange &r : d.banners) {
        along_edges(c, r, 7, [&](const CourseSample &q, float x, float z) {
            put(&stat, "[%.3f 0 %.3f] %.5f @banner.vm @banner.png @%s/banner.shp\n", x, z,
                atan2f(-q.tx, -q.tz), d.dir.c_str());
        });
    }
    write_file(w, "statues", stat);
    // Three spheres along a block 4 ft long, lying along the object's own z axis:
    // the block faces along the course, so it lines the edge; a banner is a pole
    // of two.
    write_file(w, "tuffblock.shp",
               "3\n0.000 1.000 -1.300\n1.000 0.800 20000 2000\n"
               "0.000 1.000 0.000\n1.000 0.800 20000 2000\n"
               "0.000 1.000 1.300\n1.000 0.800 20000 2000\n");
    write_file(w, "banner.shp",
               "2\n0.000 1.000 0.000\n0.400 0.600 15000 1500\n"
               "0.000 3.000 0.000\n0.400 0.600 15000 1500\n");
}

void write_flaggers(Writer *w, const Course &c)
{
    const TrackDesc &d = *c.desc;
    std::string out;
    float x, z;
    // The file is read in order and stops at the first record that does not fit, so
    // the lap and checkpoint flaggers only follow a walking flagger.
    if (d.walking_flagger && beside(c, d.walking_flagger_at, 6, 1, &x, &z)) {
        const CourseSample &q = course_at(c, d.walking_flagger_at);
        put(&out, "[%.3f 0 %.3f] [%.3f 0 %.3f] 3 6 8 @flagger_walk1.png @flagger_walk2.png "
                  "@flagger_walk3.png @flagger_walk4.png @flagger_walk5.png\n",
            x, z, x + q.tx * 12, z + q.tz * 12);
        if (d.lap_flagger && beside(c, 0, 6, -1, &x, &z)) {
            put(&out, "[%.3f 0 %.3f] 3 6 @flagger_lap_idle.png @flagger_lap_green.png "
                      "@flagger_lap_white.png @flagger_lap_checkered.png\n", x, z);
            for (float at : d.checkpoint_flaggers) {
                int best = 0;
                for (size_t k = 0; k < c.checkpoints.size(); k++) {
                    if (fabsf(c.checkpoints[k].s - at) < fabsf(c.checkpoints[best].s - at))
                        best = (int)k;
                }
                if (!beside(c, c.checkpoints[best].s, 6, 1, &x, &z))
                    continue;
                put(&out, "[%.3f 0 %.3f] 3 6 %d -1 -1 -1 @flagger_idle.png "
                          "@flagger_wave.png\n", x, z, best);
            }
        }
    }
    write_file(w, "flaggers", out);
}

void write_route(Writer *w, const Course &c)
{
    std::string out = "# racing line: x z target_speed (ft, ft, ft/s), from the finish line "
                      "round the lap\n";
    for (const RoutePoint &p : c.route)
        put(&out, "%.3f %.3f %.2f\n", p.x, p.z, p.speed);
    write_file(w, "route", out);
}

void png_to_string(png_structp png, png_bytep data, size_t length)
{
    std::string *out = (std::string *)png_get_io_ptr(png);
    out->append((const char *)data, length);
}

void png_flush_nothing(png_structp) {}

// 8-bit RGB, rows top first, into memory. No time or text chunks: the same
// pixels always give the same bytes.
bool encode_png(const uint8_t *rgb, int size, std::string *bytes)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, bytes, png_to_string, png_flush_nothing);
    png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < size; y++)
        png_write_row(png, (png_bytep)&rgb[(size_t)y * size * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// The overview map: grass shaded by the baked light, the course surface coloured
// by its ground, the starting gates in white and the finish line chequered. Row 0
// is z = 0, since the map is drawn with +z down the screen.
void write_map(Writer *w, const Course &c)
{
    static const uint8_t colors[TRACKGEN_TILE_COUNT][3] = {
        {74, 128, 56}, {168, 128, 86}, {122, 88, 58}, {222, 204, 152}, {88, 70, 52},
    };
    int size = std::min(512, c.grid - 1), n = c.grid;
    int m = n / 2;
    std::vector<uint8_t> rgb((size_t)size * size * 3);
    for (int py = 0; py < size; py++) {
        for (int px = 0; px < size; px++) {
            float fx = ((float)px + 0.5f) / (float)size, fz = ((float)py + 0.5f) / (float)size;
            int ti = std::min(m - 1, (int)(fx * (float)m));
            int tj = std::min(m - 1, (int)(fz * (float)m));
            int gi = std::min(n - 1, (int)(fx * (float)(n - 1)));
            int gj = std::min(n - 1, (int)(fz * (float)(n - 1)));
            const uint8_t *base = colors[c.tile_map[(size_t)tj * m + ti]];
            const uint8_t *shade = &c.shading[((size_t)gj * n + gi) * 3];
            uint8_t *out = &rgb[((size_t)py * size + px) * 3];
            for (int k = 0; k < 3; k++)
                out[k] = (uint8_t)std::min(255, base[k] * (shade[k] + 40) / 160);
        }
    }
    float scale = (float)size / c.extent;
    auto dot = [&](float x, float z, int r, uint8_t red, uint8_t green, uint8_t blue) {
        int cx = (int)(x * scale), cz = (int)(z * scale);
        for (int j = cz - r; j <= cz + r; j++) {
            for (int i = cx - r; i <= cx + r; i++) {
                if (i < 0 || j < 0 || i >= size || j >= size)
                    continue;
                uint8_t *out = &rgb[((size_t)j * size + i) * 3];
                out[0] = red, out[1] = green, out[2] = blue;
            }
        }
    };
    const CourseSample &f = c.line[0];
    float half = f.width * 0.5f;
    for (float t = -half; t <= half; t += 0.5f / scale) {
        for (int row = 0; row < 2; row++) {
            float back = (float)row * 1.5f / scale;
            float x = f.x - f.tz * t - f.tx * back, z = f.z + f.tx * t - f.tz * back;
            bool dark = ((int)floorf((t + half) * scale / 1.5f) + row) % 2 == 0;
            uint8_t v = dark ? 20 : 245;
            dot(x, z, 0, v, v, v);
        }
    }
    for (const StartGate &g : c.start_gates)
        dot(g.x, g.z, 0, 255, 255, 255);

    std::string bytes;
    if (!encode_png(rgb.data(), size, &bytes)) {
        *w->error = "cannot make map.png";
        w->ok = false;
        return;
    }
    write_file(w, "map.png", bytes);
}

} // namespace

bool write_track(const Course &course, const char *outdir, std::string *error)
{
    Writer w = {std::string(outdir) + "/" + course.desc->dir + "/", error, true};
    std::error_code code;
    std::filesystem::create_directories(w.dir, code);
    if (code) {
        *error = "cannot create " + w.dir;
        return false;
    }
    write_file(&w, "desc", course.desc->name + "\n");
    write_heights(&w, course);
    write_file(&w, "tileinfo", TILEINFO);
    write_lighting(&w, course);
    write_timing(&w, course);
    write_cameras(&w, course);
    write_objects(&w, course);
    write_flaggers(&w, course);
    write_map(&w, course);
    write_route(&w, course);
    return w.ok;
}

bool generate_track(const char *description, const char *outdir, std::string *error)
{
    TrackDesc desc;
    if (!read_track_desc(description, &desc, error))
        return false;
    Course course;
    build_course(desc, &course);
    return write_track(course, outdir, error);
}
