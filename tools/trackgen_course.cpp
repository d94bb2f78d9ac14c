// Course design: turns a description into the centre line, the ground heights,
// the tile map, the baked light, the timing layout and the racing line. Everything
// here is plain arithmetic on fixed inputs, so the same description always gives
// the same course.
#include "tools/trackgen.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "track/terrain.h"

namespace {

const float PI = 3.14159265358979f;
const float FAR = 1e9f;
const float TAKEOFF_SLOPE = 0.46631f;   // tan 25°: the lip of a take-off face
const float LANDING_SLOPE = 0.46631f;   // tan 25°: steepest part of a landing
const float FULL_BANK_RADIUS = 60;      // turns this tight get the whole berm angle
const float BANK_FADE = 25;
const float FEATURE_CLEAR_BEFORE = 25;  // ft of ground before a feature without a checkpoint
const float FEATURE_CLEAR_AFTER = 40;   // and after it, where a bike lands
const float MIN_CHECKPOINT_GAP = 60;
// A checkpoint reaches this far beyond the course edge: a rider run wide in a pack
// or out of a corner, or turning round after a fall, still passes it; a cut across
// the infield does not (neighbouring legs of our courses lie 100 ft apart or more).
const float CHECKPOINT_MARGIN = 20;

float smoothstep(float u)
{
    u = std::clamp(u, 0.0f, 1.0f);
    return u * u * (3 - 2 * u);
}

// A smoothstep rise of `length` ft is steepest in its middle, at 1.5 × height / length.
float face_length(float height, float slope)
{
    return 1.5f * height / slope;
}

// A take-off face bends upwards (a parabola) and is steepest at its lip, at
// 2 × height / length, so a bike leaves it along one slope with both wheels instead
// of being pitched forward over a rounded crest.
float takeoff_length(float height, float slope)
{
    return 2 * height / slope;
}

// A hump rising over `up`, flat over `top`, falling over `down`, starting at 0. A
// take-off rises to a sharp lip; any other hump rises round.
float hump(float u, float height, float up, float top, float down, bool takeoff)
{
    if (u <= 0 || u >= up + top + down)
        return 0;
    if (u < up)
        return height * (takeoff ? (u / up) * (u / up) : smoothstep(u / up));
    if (u <= up + top)
        return height;
    return height * (1 - smoothstep((u - up - top) / down));
}

float feature_profile(const TrackFeature &f, float s)
{
    float u = s - f.from, span = f.to - f.from, h = f.height;
    if (u < 0 || u > span)
        return 0;
    float up = takeoff_length(h, TAKEOFF_SLOPE), land = face_length(h, LANDING_SLOPE);
    switch (f.kind) {
    case FEATURE_DOUBLE: {
        // Take-off hump, gap, landing hump whose far side is the landing. A rider who
        // comes up short lands on the take-off's back side, so that is a landing too.
        float first = up + 4 + land;
        float second = land + 4 + land;
        float gap = std::max(0.0f, span - first - second);
        return hump(u, h, up, 4, land, true) + hump(u - first - gap, h, land, 4, land, false);
    }
    case FEATURE_TABLETOP:
        return hump(u, h, up, std::max(0.0f, span - up - land), land, true);
    case FEATURE_WHOOPS: {
        int count = std::max(1, (int)lroundf(span / 20));
        float pitch = span / (float)count;
        return h * 0.5f * (1 - cosf(2 * PI * u / pitch));
    }
    }
    return 0;
}

// Rolling ground: six sines of fixed-seed directions and phases.
struct Hills {
    float kx[6], kz[6], phase[6], amp[6];
};

Hills make_hills(const TrackDesc &d)
{
    std::mt19937 gen(d.hill_seed);
    auto unit = [&gen]() { return (float)(gen() / 4294967296.0); };
    Hills h;
    for (int i = 0; i < 6; i++) {
        float angle = unit() * 2 * PI;
        float wavelength = d.hill_wavelength * (0.6f + 0.8f * unit());
        float k = 2 * PI / wavelength;
        h.kx[i] = k * cosf(angle);
        h.kz[i] = k * sinf(angle);
        h.phase[i] = unit() * 2 * PI;
        h.amp[i] = d.hill_height / 6.0f * (0.5f + unit());
    }
    return h;
}

float hill_height(const Hills &h, float x, float z)
{
    float sum = 0;
    for (int i = 0; i < 6; i++)
        sum += h.amp[i] * sinf(h.kx[i] * x + h.kz[i] * z + h.phase[i]);
    return sum;
}

// Centripetal Catmull-Rom between p1 and p2: no loops or cusps between points.
void catmull_rom(const TrackPoint *p[4], float t, float *x, float *z)
{
    float k[4] = {0, 0, 0, 0};
    for (int i = 1; i < 4; i++) {
        float dx = p[i]->x - p[i - 1]->x, dz = p[i]->z - p[i - 1]->z;
        k[i] = k[i - 1] + std::max(1e-3f, sqrtf(sqrtf(dx * dx + dz * dz)));
    }
    float u = k[1] + (k[2] - k[1]) * t;
    float ax[3], az[3], bx[2], bz[2];
    for (int i = 0; i < 3; i++) {
        float w0 = (k[i + 1] - u) / (k[i + 1] - k[i]), w1 = (u - k[i]) / (k[i + 1] - k[i]);
        ax[i] = w0 * p[i]->x + w1 * p[i + 1]->x;
        az[i] = w0 * p[i]->z + w1 * p[i + 1]->z;
    }
    for (int i = 0; i < 2; i++) {
        float w0 = (k[i + 2] - u) / (k[i + 2] - k[i]), w1 = (u - k[i]) / (k[i + 2] - k[i]);
        bx[i] = w0 * ax[i] + w1 * ax[i + 1];
        bz[i] = w0 * az[i] + w1 * az[i + 1];
    }
    float w0 = (k[2] - u) / (k[2] - k[1]), w1 = (u - k[1]) / (k[2] - k[1]);
    *x = w0 * bx[0] + w1 * bx[1];
    *z = w0 * bz[0] + w1 * bz[1];
}

// Box filter round the closed loop, applied twice for a smooth result.
std::vector<float> smooth_loop(const std::vector<float> &v, int radius)
{
    int n = (int)v.size();
    std::vector<float> a = v, b(n);
    for (int pass = 0; pass < 2; pass++) {
        double sum = 0;
        for (int k = -radius; k <= radius; k++)
            sum += a[((k % n) + n) % n];
        for (int i = 0; i < n; i++) {
            b[i] = (float)(sum / (2 * radius + 1));
            sum += a[(i + radius + 1) % n] - a[((i - radius) % n + n) % n];
        }
        a.swap(b);
    }
    return a;
}

void build_line(const TrackDesc &d, Course *c)
{
    // Dense samples of the spline, then even 1-ft steps along it.
    int count = (int)d.points.size();
    const int steps = 200;
    std::vector<float> dx, dz, ds;
    std::vector<float> point_s(count);
    float length = 0;
    for (int i = 0; i < count; i++) {
        const TrackPoint *p[4];
        for (int k = 0; k < 4; k++)
            p[k] = &d.points[(i + k - 1 + count) % count];
        point_s[i] = length;
        for (int k = 0; k < steps; k++) {
            float x, z;
            catmull_rom(p, (float)k / steps, &x, &z);
            if (!dx.empty())
                length += hypotf(x - dx.back(), z - dz.back());
            dx.push_back(x);
            dz.push_back(z);
            ds.push_back(length);
        }
    }
    length += hypotf(dx[0] - dx.back(), dz[0] - dz.back());
    dx.push_back(dx[0]);
    dz.push_back(dz[0]);
    ds.push_back(length);

    int n = std::max(16, (int)lroundf(length));
    float step = length / (float)n;
    c->length = length;
    c->line.assign(n, CourseSample{});
    size_t k = 0;
    int seg = 0;
    for (int i = 0; i < n; i++) {
        float s = (float)i * step;
        while (k + 2 < ds.size() && ds[k + 1] < s)
            k++;
        float t = ds[k + 1] > ds[k] ? (s - ds[k]) / (ds[k + 1] - ds[k]) : 0;
        CourseSample &q = c->line[i];
        q.x = dx[k] + (dx[k + 1] - dx[k]) * t;
        q.z = dz[k] + (dz[k + 1] - dz[k]) * t;
        q.s = s;
        while (seg + 1 < count && point_s[seg + 1] <= s)
            seg++;
        float s0 = point_s[seg], s1 = seg + 1 < count ? point_s[seg + 1] : length;
        float w = (s - s0) / std::max(1e-3f, s1 - s0);
        const TrackPoint &a = d.points[seg], &b = d.points[(seg + 1) % count];
        q.width = a.width + (b.width - a.width) * w;
        q.bank = (a.bank + (b.bank - a.bank) * w) * PI / 180;
    }
    std::vector<float> heading(n), curvature(n);
    for (int i = 0; i < n; i++) {
        const CourseSample &prev = c->line[(i + n - 1) % n], &next = c->line[(i + 1) % n];
        float tx = next.x - prev.x, tz = next.z - prev.z, l = hypotf(tx, tz);
        // A line that doubles back on itself has no direction there; keep the last.
        if (!(l > 1e-4f))
            tx = i > 0 ? c->line[i - 1].tx : 1, tz = i > 0 ? c->line[i - 1].tz : 0, l = 1;
        c->line[i].tx = tx / l;
        c->line[i].tz = tz / l;
        heading[i] = atan2f(tz, tx);
    }
    for (int i = 0; i < n; i++) {
        float turn = heading[(i + 1) % n] - heading[(i + n - 1) % n];
        turn = remainderf(turn, 2 * PI);
        curvature[i] = turn / (2 * step);
    }
    curvature = smooth_loop(curvature, 6);
    for (int i = 0; i < n; i++) {
        // The berm's full angle in tight turns, fading out on straights; the sign
        // puts the raised edge on the outside.
        float share = std::clamp(curvature[i] * FULL_BANK_RADIUS, -1.0f, 1.0f);
        // Jump faces tilted sideways as well would be too steep: the berm levels
        // out over BANK_FADE ft before a jump and after it.
        float s = c->line[i].s, clear = BANK_FADE;
        for (const TrackFeature &f : d.features) {
            if (f.kind != FEATURE_WHOOPS)
                clear = std::min(clear, std::max({0.0f, f.from - s, s - f.to}));
        }
        c->line[i].bank *= share * smoothstep(clear / BANK_FADE);
    }
}

// The centre line sample for a distance, taken round the loop.
int line_index(const Course &c, float s)
{
    int n = (int)c.line.size();
    float step = c.length / (float)n;
    int i = (int)lroundf(s / step);
    return ((i % n) + n) % n;
}

struct Nearest {
    std::vector<float> dist2;
    std::vector<float> along;       // interpolated distance along the line
};

// For every height sample near the course: the nearest point of the centre line,
// found by stamping each 1-ft segment over the samples around it.
void find_nearest(Course *c, float reach, Nearest *out)
{
    int n = c->grid;
    float cell = c->desc->cell;
    out->dist2.assign((size_t)n * n, reach * reach);
    out->along.assign((size_t)n * n, 0);
    c->lateral.assign((size_t)n * n, FAR);
    c->nearest.assign((size_t)n * n, -1);
    int count = (int)c->line.size();
    for (int i = 0; i < count; i++) {
        const CourseSample &a = c->line[i], &b = c->line[(i + 1) % count];
        float ex = b.x - a.x, ez = b.z - a.z, e2 = ex * ex + ez * ez;
        float len = sqrtf(e2);
        if (!(len > 1e-4f))
            continue;
        int i0 = std::max(0, (int)floorf((std::min(a.x, b.x) - reach) / cell));
        int i1 = std::min(n - 1, (int)ceilf((std::max(a.x, b.x) + reach) / cell));
        int j0 = std::max(0, (int)floorf((std::min(a.z, b.z) - reach) / cell));
        int j1 = std::min(n - 1, (int)ceilf((std::max(a.z, b.z) + reach) / cell));
        for (int j = j0; j <= j1; j++) {
            float pz = (float)j * cell;
            for (int k = i0; k <= i1; k++) {
                float px = (float)k * cell;
                float t = std::clamp(((px - a.x) * ex + (pz - a.z) * ez) / e2, 0.0f, 1.0f);
                float qx = a.x + ex * t - px, qz = a.z + ez * t - pz;
                float d2 = qx * qx + qz * qz;
                size_t idx = (size_t)j * n + k;
                if (d2 >= out->dist2[idx])
                    continue;
                out->dist2[idx] = d2;
                out->along[idx] = a.s + t * len;
                c->nearest[idx] = t < 0.5f ? i : (i + 1) % count;
                // Positive to the left of the direction of travel.
                c->lateral[idx] = ((px - a.x) * -ez + (pz - a.z) * ex) / len;
            }
        }
    }
}

// Course properties at a fractional distance, interpolated between samples.
struct Section {
    float height, width, bank, shoulder;
};

Section section_at(const Course &c, const std::vector<float> &shoulder, float s)
{
    int n = (int)c.line.size();
    float step = c.length / (float)n;
    float f = s / step;
    int i = (int)floorf(f);
    float t = f - (float)i;
    i = ((i % n) + n) % n;
    int j = (i + 1) % n;
    const CourseSample &a = c.line[i], &b = c.line[j];
    return {a.height + (b.height - a.height) * t, a.width + (b.width - a.width) * t,
            a.bank + (b.bank - a.bank) * t, shoulder[i] + (shoulder[j] - shoulder[i]) * t};
}

void build_heights(const TrackDesc &d, Course *c)
{
    Hills hills = make_hills(d);
    int count = (int)c->line.size();
    // The course follows the lie of the land, smoothed over about 150 ft.
    std::vector<float> ground(count);
    for (int i = 0; i < count; i++)
        ground[i] = hill_height(hills, c->line[i].x, c->line[i].z);
    std::vector<float> base = smooth_loop(ground, 40);
    std::vector<float> shoulder(count);
    float reach = 0;
    for (int i = 0; i < count; i++) {
        CourseSample &q = c->line[i];
        float feature = feature_height(d, q.s);
        q.height = base[i] + feature;
        // Wide enough that the ground never falls away steeper than about 31°.
        float rise = feature + q.width * 0.5f * fabsf(tanf(q.bank)) + fabsf(ground[i] - base[i]);
        shoulder[i] = 10 + 2.5f * rise;
        reach = std::max(reach, q.width * 0.5f + shoulder[i]);
    }
    // The hills across the shoulder differ from those under the line; a margin covers it.
    reach += 4;
    for (float &s : shoulder)
        s += 4;

    Nearest near;
    find_nearest(c, reach, &near);
    int n = c->grid;
    std::vector<float> h((size_t)n * n);
    for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) {
            size_t idx = (size_t)j * n + i;
            float x = (float)i * d.cell, z = (float)j * d.cell;
            float g = hill_height(hills, x, z);
            if (c->nearest[idx] < 0) {
                h[idx] = g;
                continue;
            }
            Section sec = section_at(*c, shoulder, near.along[idx]);
            float lat = c->lateral[idx], half = sec.width * 0.5f;
            // Positive bank raises the right edge (negative lateral).
            float surface = sec.height - std::clamp(lat, -half, half) * tanf(sec.bank);
            float u = (fabsf(lat) - half) / sec.shoulder;
            h[idx] = surface + (g - surface) * smoothstep(u);
        }
    }
    auto range = std::minmax_element(h.begin(), h.end());
    c->min_height = floorf(*range.first) - 1;
    c->max_height = ceilf(*range.second) + 1;
    float span = c->max_height - c->min_height;
    c->samples.resize(h.size());
    c->heights.resize(h.size());
    for (size_t k = 0; k < h.size(); k++) {
        double v = (h[k] - c->min_height) / span * 65535.0 + 0.5;
        c->samples[k] = (uint16_t)std::clamp(v, 0.0, 65535.0);
        // Exactly what the game's loader makes of the stored sample.
        c->heights[k] = c->min_height + (float)c->samples[k] * span / 65535.0f;
    }
}

void build_tiles(const TrackDesc &d, Course *c)
{
    int m = c->grid / 2, n = c->grid;
    c->tile_map.assign((size_t)m * m, TRACKGEN_TILE_GRASS);
    for (int j = 0; j < m; j++) {
        for (int i = 0; i < m; i++) {
            size_t idx = (size_t)(2 * j + 1) * n + (2 * i + 1);
            int near = c->nearest[idx];
            if (near < 0)
                continue;
            const CourseSample &q = c->line[near];
            if (fabsf(c->lateral[idx]) > q.width * 0.5f + 1)
                continue;
            int tile = d.default_surface;
            for (const TrackSurface &s : d.surfaces) {
                if (q.s >= s.from && q.s < s.to)
                    tile = s.tile;
            }
            c->tile_map[(size_t)j * m + i] = (uint8_t)tile;
        }
    }
}

float height_at(const Course &c, float x, float z)
{
    int n = c.grid;
    float cell = c.desc->cell;
    float last = (float)(n - 1);
    float fx = std::clamp(x / cell, 0.0f, last), fz = std::clamp(z / cell, 0.0f, last);
    int i = std::min((int)fx, n - 2), j = std::min((int)fz, n - 2);
    float u = fx - (float)i, v = fz - (float)j;
    const float *h = c.heights.data();
    float a = h[(size_t)j * n + i] + (h[(size_t)j * n + i + 1] - h[(size_t)j * n + i]) * u;
    float b = h[(size_t)(j + 1) * n + i] +
              (h[(size_t)(j + 1) * n + i + 1] - h[(size_t)(j + 1) * n + i]) * u;
    return a + (b - a) * v;
}

// Cast shadows: march from each sample towards the sun until the ray clears the
// highest ground. Stored as light values, 255 = fully lit.
void build_light(const TrackDesc &d, Course *c)
{
    int n = c->grid;
    float cell = d.cell;
    float len = sqrtf(d.sun[0] * d.sun[0] + d.sun[1] * d.sun[1] + d.sun[2] * d.sun[2]);
    float sx = d.sun[0] / len, sy = d.sun[1] / len, sz = d.sun[2] / len;
    float flat = hypotf(sx, sz);
    std::vector<uint8_t> lit((size_t)n * n, 255);
    if (flat > 1e-4f) {
        float stepx = sx / flat * cell, stepz = sz / flat * cell, rise = sy / flat * cell;
        for (int j = 0; j < n; j++) {
            for (int i = 0; i < n; i++) {
                size_t idx = (size_t)j * n + i;
                float x = (float)i * cell, z = (float)j * cell, y = c->heights[idx] + 0.2f;
                for (;;) {
                    x += stepx, z += stepz, y += rise;
                    if (y > c->max_height || x < 0 || z < 0 || x > c->extent || z > c->extent)
                        break;
                    if (height_at(*c, x, z) > y) {
                        lit[idx] = 110;
                        break;
                    }
                }
            }
        }
    }
    // A 3 × 3 blur softens the stair-stepped shadow edges.
    c->light.assign((size_t)n * n, 255);
    for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) {
            int sum = 0, w = 0;
            for (int b = std::max(0, j - 1); b <= std::min(n - 1, j + 1); b++) {
                for (int a = std::max(0, i - 1); a <= std::min(n - 1, i + 1); a++) {
                    sum += lit[(size_t)b * n + a];
                    w++;
                }
            }
            c->light[(size_t)j * n + i] = (uint8_t)(sum / w);
        }
    }
    // The shading comes from the game's own refresh code over a terrain in memory.
    Terrain t = {};
    t.size_log2 = d.size_log2;
    t.grid_size = n;
    t.cell = cell;
    t.extent = c->extent;
    t.heights = c->heights;
    t.shadows.resize(c->light.size());
    for (size_t k = 0; k < c->light.size(); k++)
        t.shadows[k] = (uint8_t)(255 - c->light[k]);
    t.shading.assign((size_t)n * n * 3, 0);
    for (int k = 0; k < 3; k++) {
        t.lighting.sun_vector[k] = d.sun[k] / len;
        t.lighting.sun_color[k] = d.sun_color[k];
        t.lighting.ambient[k] = d.ambient[k];
    }
    refresh_terrain_rect(&t, 0, 0, n - 1, n - 1);
    c->shading.swap(t.shading);
}

void build_timing(const TrackDesc &d, Course *c)
{
    std::vector<std::pair<float, float>> zones;
    for (const TrackFeature &f : d.features)
        zones.push_back({f.from - FEATURE_CLEAR_BEFORE, f.to + FEATURE_CLEAR_AFTER});
    std::sort(zones.begin(), zones.end());
    for (size_t i = 1; i < zones.size();) {
        if (zones[i].first <= zones[i - 1].second) {
            zones[i - 1].second = std::max(zones[i - 1].second, zones[i].second);
            zones.erase(zones.begin() + (long)i);
        } else {
            i++;
        }
    }
    int count = std::max(3, (int)lroundf(c->length / d.checkpoint_spacing));
    for (int k = 0; k < count; k++) {
        float s = c->length * (float)k / (float)count;
        // No checkpoint in a jump or the whoops: a line learnt there would begin or
        // end in the air. Move it to the nearer ground before or after the feature
        // (features close together count as one).
        for (const std::pair<float, float> &z : zones) {
            if (k > 0 && s > z.first && s < z.second)
                s = s - z.first < z.second - s ? z.first : z.second;
        }
        // A checkpoint moved up to its neighbour is dropped.
        if (k > 0 && (s - c->checkpoints.back().s < MIN_CHECKPOINT_GAP ||
                      c->length - s < MIN_CHECKPOINT_GAP))
            continue;
        const CourseSample &q = c->line[line_index(*c, s)];
        c->checkpoints.push_back({q.x, q.z, q.tx, q.tz, q.width * 0.5f + CHECKPOINT_MARGIN, q.s});
    }
    // The normal lap runs from the line round to the line; the first lap starts at
    // the first checkpoint clear of the grid and joins it.
    count = (int)c->checkpoints.size();
    for (int k = 1; k < count; k++)
        c->normal_lap.push_back(k);
    c->normal_lap.push_back(0);
    for (int k = 1; k < count; k++) {
        if (c->checkpoints[k].s > d.start_at + 20)
            c->first_lap.push_back(k);
    }
    c->first_lap.push_back(0);

    const CourseSample &g = c->line[line_index(*c, d.start_at)];
    float pitch = std::min(3.6f, (g.width - 4) / (float)d.start_count);
    float angle = atan2f(-g.tx, -g.tz);
    for (int k = 0; k < d.start_count; k++) {
        float off = ((float)k - (float)(d.start_count - 1) * 0.5f) * pitch;
        c->start_gates.push_back({g.x - g.tz * off, g.z + g.tx * off, angle});
    }
}

// The racing line: the centre line at a speed the turns allow, with braking and
// acceleration limits applied both ways round the loop.
void build_route(Course *c)
{
    int n = (int)c->line.size();
    std::vector<float> curvature(n);
    for (int i = 0; i < n; i++) {
        const CourseSample &a = c->line[(i + n - 4) % n], &b = c->line[(i + 4) % n];
        float turn = remainderf(atan2f(b.tz, b.tx) - atan2f(a.tz, a.tx), 2 * PI);
        curvature[i] = fabsf(turn) / (8 * c->length / (float)n);
    }
    std::vector<float> v(n);
    const float grip = 0.9f * 32, top = 75, accel = 12, brake = 22;
    for (int i = 0; i < n; i++)
        v[i] = std::min(top, sqrtf(grip / std::max(curvature[i], 1e-4f)));
    float step = c->length / (float)n;
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < 2 * n; i++) {
            int k = i % n, prev = (k + n - 1) % n;
            v[k] = std::min(v[k], sqrtf(v[prev] * v[prev] + 2 * accel * step));
        }
        for (int i = 2 * n; i > 0; i--) {
            int k = i % n, next = (k + 1) % n;
            v[k] = std::min(v[k], sqrtf(v[next] * v[next] + 2 * brake * step));
        }
    }
    for (int i = 0; i < n; i += 4)
        c->route.push_back({c->line[i].x, c->line[i].z, v[i]});
}

} // namespace

float feature_height(const TrackDesc &desc, float s)
{
    float h = 0;
    for (const TrackFeature &f : desc.features)
        h += feature_profile(f, s);
    return h;
}

const CourseSample &course_at(const Course &c, float s)
{
    return c.line[line_index(c, s)];
}

void build_course(const TrackDesc &desc, Course *out)
{
    Course &c = *out;
    c = Course{};
    c.desc = &desc;
    c.grid = (1 << (desc.size_log2 + 1)) + 1;
    c.extent = (float)(c.grid - 1) * desc.cell;
    build_line(desc, &c);
    build_heights(desc, &c);
    build_tiles(desc, &c);
    build_light(desc, &c);
    build_timing(desc, &c);
    build_route(&c);
}
