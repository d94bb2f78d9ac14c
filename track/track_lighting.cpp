// The track's "lighting" file: sun, ambient light, clip planes, fog, sky textures
// and lens flares. The values are only stored here; the renderer applies them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/common.h"
#include "core/datafile.h"
#include "track/track_local.h"

enum { MAX_FLARES = 1024 };

static const char *const default_sky[TRACK_SKY_SLOTS] = {
    "@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm", "@sky-u.ppm"};
static const char *const sky_keywords[TRACK_SKY_SLOTS] = {"sky_n", "sky_e", "sky_s", "sky_w",
                                                          "sky_u"};

static void set3(float v[3], float a, float b, float c)
{
    v[0] = a;
    v[1] = b;
    v[2] = c;
}

static void lighting_defaults(TrackLighting *l)
{
    *l = TrackLighting{};
    set3(l->sun_vector, 1, 1, 1);
    set3(l->sun_color, 1, 1, 1);
    set3(l->ambient, 0.5f, 0.5f, 0.5f);
    set3(l->global_ambient, 0.2f, 0.2f, 0.2f);
    l->near_plane = 0.25f;
    l->far_plane = 5000;
}

// The value into [low, high]; NaN counts as too low.
static float clampf(float v, float low, float high)
{
    if (!(v >= low))
        return low;
    return v > high ? high : v;
}

static bool read_vector(const char *value, float v[3])
{
    float x, y, z;
    if (sscanf(value, " [ %f %f %f ] ", &x, &y, &z) != 3)
        return false;
    set3(v, x, y, z);
    return true;
}

static void normalise_sun(float v[3])
{
    float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    // A zero or broken vector would light nothing and poison the shading with NaN.
    if (!(length > 0) || !std::isfinite(length)) {
        set3(v, 1, 1, 1);
        length = std::sqrt(3.0f);
    }
    for (int i = 0; i < 3; i++)
        v[i] /= length;
}

// One statement per line: leading blanks and tabs skipped, the first word is the
// keyword, the rest of the line (trimmed) its value; empty lines are skipped.
//   sun_vector / sun_color / ambient / global_ambient   "[ r g b ]"
//   sky_n sky_e sky_s sky_w sky_u sky_env                texture name
//   flare_element "[ a b ] [ r g b ] c texture"          adds to the flare being built
//   flare_point / flare_vector "[ x y z ]"               finishes that flare
//   fog "[ r g b ] density"                              exponential fog
//   dynamic_lighting n                                   on when n > 0
//   near_plane f / far_plane f
// Any other keyword is reported and ends the reading. A statement whose numbers do
// not all parse leaves the values it would set alone.
void read_lighting(const char *directory, TrackLighting *l)
{
    lighting_defaults(l);
    Track &t = track_edit();
    t.flares.clear();

    DataFile *file = data_open(track_file_name(directory, "lighting").c_str(), "rb");
    if (file) {
        Flare building{};
        std::string line;
        while (track_read_line(file, &line)) {
            size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos)
                continue;
            size_t key_end = line.find_first_of(" \t", start);
            std::string keyword = line.substr(start, key_end - start);
            std::string value;
            if (key_end != std::string::npos) {
                size_t v0 = line.find_first_not_of(" \t", key_end);
                size_t v1 = line.find_last_not_of(" \t");
                if (v0 != std::string::npos)
                    value = line.substr(v0, v1 + 1 - v0);
            }
            const char *key = keyword.c_str();
            const char *val = value.c_str();

            int sky = -1;
            for (int i = 0; i < TRACK_SKY_SLOTS; i++)
                if (strcmp(key, sky_keywords[i]) == 0)
                    sky = i;

            if (strcmp(key, "sun_vector") == 0) {
                read_vector(val, l->sun_vector);
            } else if (strcmp(key, "sun_color") == 0) {
                read_vector(val, l->sun_color);
            } else if (strcmp(key, "ambient") == 0) {
                read_vector(val, l->ambient);
            } else if (strcmp(key, "global_ambient") == 0) {
                read_vector(val, l->global_ambient);
            } else if (sky >= 0) {
                l->sky_names[sky] = value.empty() ? nullptr : intern_string(val);
            } else if (strcmp(key, "sky_env") == 0) {
                l->sky_env_name = value.empty() ? nullptr : intern_string(val);
            } else if (strcmp(key, "flare_element") == 0) {
                FlareElement e{};
                char name[1024];
                if (sscanf(val, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.a, &e.b, &e.color[0],
                           &e.color[1], &e.color[2], &e.c, name) == 7 &&
                    building.element_count < TRACK_FLARE_ELEMENTS) {
                    e.texture_name = intern_string(name);
                    e.texture = track_load_texture(name);
                    building.elements[building.element_count++] = e;
                }
            } else if (strcmp(key, "flare_point") == 0 || strcmp(key, "flare_vector") == 0) {
                if (read_vector(val, building.source) && t.flares.size() < MAX_FLARES) {
                    building.is_point = strcmp(key, "flare_point") == 0;
                    t.flares.push_back(building);
                }
                building = Flare{};
            } else if (strcmp(key, "fog") == 0) {
                float r, g, b, density;
                if (sscanf(val, " [ %f %f %f ] %f ", &r, &g, &b, &density) == 4) {
                    set3(l->fog_color, r, g, b);
                    l->fog_density = density;
                    l->fog = true;
                }
            } else if (strcmp(key, "dynamic_lighting") == 0) {
                l->dynamic_lighting = atoi(val) > 0;
            } else if (strcmp(key, "near_plane") == 0) {
                sscanf(val, "%f", &l->near_plane);
            } else if (strcmp(key, "far_plane") == 0) {
                sscanf(val, "%f", &l->far_plane);
            } else {
                char message[1024];
                snprintf(message, sizeof message,
                         "Error reading lighting: Unknown identifier '%.950s'\n", key);
                game_message(message);
                break;
            }
        }
        data_close(file);
    }

    l->near_plane = clampf(l->near_plane, 0.0009765625f, 0.875f);
    l->far_plane = clampf(l->far_plane, l->near_plane, 1048576.0f);
    normalise_sun(l->sun_vector);
    for (int i = 0; i < TRACK_SKY_SLOTS; i++) {
        if (!l->sky_names[i])
            l->sky_names[i] = default_sky[i];
        l->sky[i] = track_load_texture(l->sky_names[i]);
    }
    if (!l->sky_env_name)
        l->sky_env_name = "@sky-env.ppm";
    l->sky_env = track_load_texture(l->sky_env_name);
}
