// The track's "flaggers" and "cameras" files.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "platform/vrak.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track_local.h"

// Reads `count` texture names; false when one is missing.
static bool read_names(DataFile *file, int count, const char **names, unsigned *textures)
{
    char name[1024];
    for (int i = 0; i < count; i++) {
        if (data_scanf(file, " %1023s", name) != 1)
            return false;
        names[i] = intern_string(name);
        textures[i] = track_load_texture(names[i]);
    }
    return true;
}

// "flaggers", everything optional, reading stops at the first mismatch:
//   [ x y z ] [ x y z ] size_a size_b walk_time  name*5   the walking flagger
//   [ x y z ] size_a size_b  name*4                       the lap flagger
//   [ x y z ] size_a size_b c0 c1 c2 c3  idle waving      checkpoint flaggers, repeated
// y values are heights above the ground. A flagger whose names are incomplete is
// not created. Checkpoint indices are clamped to -1 .. checkpoint count - 1.
void read_flaggers(const char *directory)
{
    DataFile *file = data_open(track_file_name(directory, "flaggers").c_str(), "rb");
    if (!file)
        return;
    FlaggerSet &set = track_edit().flaggers;

    WalkingFlagger w{};
    float a, b;
    if (data_scanf(file, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &w.start[0], &w.start[1],
                   &w.start[2], &w.end[0], &w.end[1], &w.end[2], &a, &b, &w.walk_time) != 9 ||
        !read_names(file, 5, w.texture_names, w.textures)) {
        data_close(file);
        return;
    }
    w.billboard = create_billboard(w.start[0], w.start[1], w.start[2], a, b, w.texture_names[0]);
    set.walking = w;
    set.has_walking = true;

    LapFlagger lap{};
    float p[3];
    if (data_scanf(file, " [ %f %f %f ] %f %f ", &p[0], &p[1], &p[2], &a, &b) != 5 ||
        !read_names(file, 4, lap.texture_names, lap.textures)) {
        data_close(file);
        return;
    }
    lap.billboard = create_billboard(p[0], p[1], p[2], a, b, lap.texture_names[0]);
    set.lap = lap;
    set.has_lap = true;

    int last = timing_tables().checkpoint_count - 1;
    CheckpointFlagger c{};
    int *k = c.checkpoints;
    while (set.checkpoint.size() < TRACK_MAX_CHECKPOINT_FLAGGERS &&
           data_scanf(file, " [ %f %f %f ] %f %f %d %d %d %d", &p[0], &p[1], &p[2], &a, &b,
                      &k[0], &k[1], &k[2], &k[3]) == 9) {
        const char *names[2];
        unsigned textures[2];
        if (!read_names(file, 2, names, textures))
            break;
        for (int i = 0; i < 4; i++)
            k[i] = k[i] < -1 ? -1 : (k[i] > last ? last : k[i]);
        c.idle_name = names[0];
        c.waving_name = names[1];
        c.idle = textures[0];
        c.waving = textures[1];
        c.billboard = create_billboard(p[0], p[1], p[2], a, b, c.idle_name);
        set.checkpoint.push_back(c);
    }
    data_close(file);
}

// "cameras", line by line to the end:
//   addcamera x y z     a camera at ground + y with the current fov and autofovsize,
//                       which then go back to 90 and 0
//   fov f, autofovsize f     for the next addcamera only
//   gate n n ...        checkpoints 0..255 shown by the next camera (up to the
//                       first other word)
// Other lines are ignored.
void read_cameras(const char *directory)
{
    Track &t = track_edit();
    DataFile *file = data_open(track_file_name(directory, "cameras").c_str(), "rb");
    if (file) {
        float fov = 90, autofovsize = 0;
        bool pending[TRACK_GATE_CAMERAS] = {};
        std::string line;
        while (track_read_line(file, &line)) {
            const char *s = line.c_str();
            char word[32];
            int used = 0;
            if (sscanf(s, " %31s%n", word, &used) != 1)
                continue;
            const char *rest = s + used;
            float x, y, z, v;
            if (strcmp(word, "addcamera") == 0) {
                if (sscanf(rest, "%f %f %f", &x, &y, &z) != 3 ||
                    t.cameras.size() >= TRACK_MAX_CAMERAS)
                    continue;
                TrackCamera camera{};
                camera.x = x;
                camera.z = z;
                camera.y = (t.terrain ? terrain_height(t.terrain, x, z) : 0.0f) + y;
                camera.fov = fov;
                camera.autofovsize = autofovsize;
                int index = (int)t.cameras.size();
                t.cameras.push_back(camera);
                for (int g = 0; g < TRACK_GATE_CAMERAS; g++)
                    if (pending[g]) {
                        t.gate_camera[g] = index;
                        pending[g] = false;
                    }
                fov = 90;
                autofovsize = 0;
            } else if (strcmp(word, "fov") == 0) {
                if (sscanf(rest, "%f", &v) == 1)
                    fov = v;
            } else if (strcmp(word, "autofovsize") == 0) {
                if (sscanf(rest, "%f", &v) == 1)
                    autofovsize = v;
            } else if (strcmp(word, "gate") == 0) {
                for (;;) {
                    rest += strspn(rest, " \t");
                    size_t length = strcspn(rest, " \t");
                    if (length == 0 || length > 3 || strspn(rest, "0123456789") != length)
                        break;
                    int g = atoi(std::string(rest, length).c_str());
                    if (g >= TRACK_GATE_CAMERAS)
                        break;
                    pending[g] = true;
                    rest += length;
                }
            }
        }
        data_close(file);
    }
    if (startup_options().debug >= 1)
        vrak_log("%d cameras found\n", (int)t.cameras.size());
}
