// Lookups on a loaded terrain (height, triangle normal, tile type, vertex normal)
// and the shading refresh after the heights change. Lookups allocate nothing: the
// contact code calls them many times a tick.
//
// Each grid cell (i, j) is split into two triangles along a diagonal that
// alternates like a checkerboard. When i and j have the same parity the triangles
// are {(i, j), (i, j+1), (i+1, j+1)} and {(i+1, j+1), (i+1, j), (i, j)}; otherwise
// {(i, j), (i, j+1), (i+1, j)} and {(i+1, j+1), (i+1, j), (i, j+1)}. Sample indices
// are clamped to the grid, so outside it the border heights continue.
#include "track/terrain_local.h"

#include <algorithm>
#include <cmath>

static void no_dirty_hook(Terrain *, int, int, int, int) {}

static struct {
    void (*dirty)(Terrain *t, int c0, int r0, int c1, int r1) = no_dirty_hook;
} tq;

void terrain_set_dirty_hook(void (*hook)(Terrain *t, int c0, int r0, int c1, int r1))
{
    tq.dirty = hook ? hook : no_dirty_hook;
}

static float sample(const Terrain *t, int i, int j)
{
    int last = t->grid_size - 1;
    i = std::clamp(i, 0, last);
    j = std::clamp(j, 0, last);
    return t->heights[(size_t)j * t->grid_size + i];
}

// The triangle under a point in cell-local form: its three vertices relative to
// the cell's corner (i, j), in the order of the split.
struct CellTriangle {
    float v[3][3];
};

// Cell coordinates of a world coordinate, limited to one cell beyond the grid so
// that far-away or invalid points cannot overflow an int.
static float cell_coordinate(const Terrain *t, float world)
{
    float c = world / t->cell;
    if (!(c >= -1.0f))          // also catches NaN
        return -1.0f;
    return std::min(c, (float)t->grid_size);
}

static CellTriangle triangle_at(const Terrain *t, float x, float z, float *u, float *v)
{
    float fx = cell_coordinate(t, x), fz = cell_coordinate(t, z);
    int i = (int)floorf(fx), j = (int)floorf(fz);
    *u = fx - (float)i;
    *v = fz - (float)j;
    float c = t->cell;
    float h00 = sample(t, i, j), h10 = sample(t, i + 1, j);
    float h01 = sample(t, i, j + 1), h11 = sample(t, i + 1, j + 1);
    CellTriangle tri;
    auto set = [&](int k, float px, float h, float pz) {
        tri.v[k][0] = px * c;
        tri.v[k][1] = h;
        tri.v[k][2] = pz * c;
    };
    if (((i ^ j) & 1) == 0) {
        if (*v >= *u) {
            set(0, 0, h00, 0); set(1, 0, h01, 1); set(2, 1, h11, 1);
        } else {
            set(0, 1, h11, 1); set(1, 1, h10, 0); set(2, 0, h00, 0);
        }
    } else {
        if (*u + *v <= 1) {
            set(0, 0, h00, 0); set(1, 0, h01, 1); set(2, 1, h10, 0);
        } else {
            set(0, 1, h11, 1); set(1, 1, h10, 0); set(2, 0, h01, 1);
        }
    }
    return tri;
}

static void cross(const float a[3], const float b[3], float out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

static void triangle_normal(const CellTriangle &tri, float n[3])
{
    float e1[3], e2[3];
    for (int k = 0; k < 3; k++) {
        e1[k] = tri.v[1][k] - tri.v[0][k];
        e2[k] = tri.v[2][k] - tri.v[0][k];
    }
    cross(e1, e2, n);
}

float terrain_height(const Terrain *t, float x, float z)
{
    float u, v;
    CellTriangle tri = triangle_at(t, x, z, &u, &v);
    // The plane through the triangle, solved for y at the point.
    float n[3];
    triangle_normal(tri, n);
    float px = u * t->cell, pz = v * t->cell;
    if (n[1] == 0)
        return tri.v[0][1];
    return tri.v[0][1] - (n[0] * (px - tri.v[0][0]) + n[2] * (pz - tri.v[0][2])) / n[1];
}

void terrain_face_normal(const Terrain *t, float x, float z, float normal[3])
{
    float u, v;
    CellTriangle tri = triangle_at(t, x, z, &u, &v);
    triangle_normal(tri, normal);
    if (normal[1] < 0) {
        for (int k = 0; k < 3; k++)
            normal[k] = -normal[k];
    }
}

int tile_at(const Terrain *t, float x, float z)
{
    float last = (float)(t->tile_map_size - 1);
    float col = x * 0.5f / t->cell, row = z * 0.5f / t->cell;
    col = col >= 0 ? std::min(col, last) : 0;     // NaN lands on 0 too
    row = row >= 0 ? std::min(row, last) : 0;
    return t->tile_map[(size_t)row * t->tile_map_size + (size_t)col];
}

void vertex_normal(const Terrain *t, int column, int row, float normal[3])
{
    static const int around[8][2] = {
        {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0},
    };
    int last = t->grid_size - 1;
    column = std::clamp(column, 0, last);
    row = std::clamp(row, 0, last);
    float h = sample(t, column, row);
    float vec[8][3];
    for (int k = 0; k < 8; k++) {
        int i = std::clamp(column + around[k][0], 0, last);
        int j = std::clamp(row + around[k][1], 0, last);
        vec[k][0] = (float)(i - column) * t->cell;
        vec[k][1] = sample(t, i, j) - h;
        vec[k][2] = (float)(j - row) * t->cell;
    }
    float sum[3] = {0, 0, 0};
    for (int k = 0; k < 8; k++) {
        float n[3];
        // This order round the sample makes a flat field's normals point up.
        cross(vec[(k + 1) % 8], vec[k], n);
        float length = sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        // Clamping at the border folds neighbours onto the sample; those
        // triangles have no area and no normal.
        if (!(length > 0))
            continue;
        for (int c = 0; c < 3; c++)
            sum[c] += n[c] / length;
    }
    float length = sqrtf(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    if (!(length > 0)) {
        normal[0] = 0, normal[1] = 1, normal[2] = 0;
        return;
    }
    float sign = sum[1] < 0 ? -1.0f : 1.0f;
    for (int c = 0; c < 3; c++)
        normal[c] = sign * sum[c] / length;
}

static uint8_t normal_byte(float c)
{
    float v = std::clamp(truncf(127.0f * c), -127.0f, 127.0f);
    return (uint8_t)((int)v + 128);
}

void terrain_store_normal(Terrain *t, int column, int row)
{
    size_t index = (size_t)row * t->grid_size + column;
    float n[3];
    vertex_normal(t, column, row, n);
    uint8_t *out = &t->normals[index * 3];
    out[0] = normal_byte(n[0]);
    // The y byte carries the sample's light value for the terrain shaders.
    out[1] = (uint8_t)(255 - t->shadows[index]);
    out[2] = normal_byte(n[2]);
}

void refresh_terrain_rect(Terrain *t, int first_column, int first_row, int last_column,
                          int last_row)
{
    int last = t->grid_size - 1;
    int c0 = std::clamp(first_column, 0, last), c1 = std::clamp(last_column, 0, last);
    int r0 = std::clamp(first_row, 0, last), r1 = std::clamp(last_row, 0, last);
    if (c0 > c1 || r0 > r1)
        return;
    const TerrainLighting &light = t->lighting;
    bool shaders = !t->normals.empty();
    for (int j = r0; j <= r1; j++) {
        for (int i = c0; i <= c1; i++) {
            size_t index = (size_t)j * t->grid_size + i;
            float n[3];
            vertex_normal(t, i, j, n);
            float s = light.sun_vector[0] * n[0] + light.sun_vector[1] * n[1] +
                      light.sun_vector[2] * n[2];
            s = std::clamp(s, 0.0f, 1.0f) * (1.0f - t->shadows[index] / 255.0f);
            for (int c = 0; c < 3; c++) {
                float value = truncf(255.0f * (light.sun_color[c] * s + light.ambient[c]) * 0.5f);
                t->shading[index * 3 + c] = (uint8_t)std::clamp(value, 0.0f, 255.0f);
            }
            if (shaders)
                terrain_store_normal(t, i, j);
        }
    }
    tq.dirty(t, c0, r0, c1, r1);
}

void terrain_bump(Terrain *, float, float, float, float)
{
    // Deformation comes with the roost and erosion code.
}
