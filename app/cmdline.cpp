// The command line. Options are tried in table order for each argument; the first
// match wins. Flag options match only their exact text; value options match their
// exact text (the value is the next argument) or "name=value". "--" ends the
// options, and the one argument left over is the demo file to play.
#include "app/cmdline.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/datafile.h"
#include "core/options.h"
#include "core/settings.h"
#include "platform/vrak.h"

bool take_option(ArgCursor *cursor, const char *name, bool takes_value, const char **value)
{
    *value = nullptr;
    if (cursor->index >= cursor->argc)
        return false;
    const char *arg = cursor->argv[cursor->index];
    size_t n = strlen(name);
    if (strcmp(arg, name) == 0) {
        cursor->index++;
        if (takes_value && cursor->index < cursor->argc)
            *value = cursor->argv[cursor->index++];
        return true;
    }
    if (takes_value && strncmp(arg, name, n) == 0 && arg[n] == '=') {
        *value = arg + n + 1;
        cursor->index++;
        return true;
    }
    return false;
}

// Leading blanks, an optional sign, then the leading decimal digits; 0 when there
// are none. Never fails.
static int lenient_int(const char *text)
{
    while (*text && isspace((unsigned char)*text))
        text++;
    long sign = 1;
    if (*text == '+' || *text == '-')
        sign = *text++ == '-' ? -1 : 1;
    long v = 0;
    while (isdigit((unsigned char)*text)) {
        v = v * 10 + (*text++ - '0');
        if (v > INT_MAX)
            v = (long)INT_MAX + 1;
    }
    v *= sign;
    return (int)std::clamp(v, (long)INT_MIN, (long)INT_MAX);
}

static bool read_int(const char *text, int *out)
{
    return text && sscanf(text, "%d", out) == 1;
}

static bool read_real(const char *text, double *out)
{
    float f;
    if (!text || sscanf(text, "%f", &f) != 1)
        return false;
    *out = f;
    return true;
}

enum OptionKind {
    FLAG,       // no argument
    INT,        // "%d"; a value that can't be read is an error
    REAL,       // "%f"; likewise
    LENIENT,    // leading digits, anything accepted
    UNCHECKED,  // "%d" when readable, otherwise left alone
    TEXT,       // any text
};

enum OptionId {
    OPT_FUGLY, OPT_NOSOUND, OPT_NOVERTEXARRAYS, OPT_LEARN, OPT_NOLEARN, OPT_NOMMX, OPT_DEBUG,
    OPT_SUPER_DEBUG, OPT_PRACTICE, OPT_WARP, OPT_TEXTURE_DETAIL, OPT_GROUND_TEXTURE_DETAIL,
    OPT_ROOSTFREQUENCY, OPT_ERODE, OPT_DETAIL, OPT_MAX_DETAIL_DISTANCE, OPT_LOD_SCALE,
    OPT_LOD_BIAS, OPT_LOCK_FPS, OPT_FAKE_LAG, OPT_FAKE_LOSS, OPT_RECORD_AUDIO, OPT_RECORD_VIDEO,
    OPT_ROTATE_LINEUP, OPT_EDITOR, OPT_HIDDEN_PAUSE, OPT_HIDDEN_HUD, OPT_BIKES, OPT_WIDTH,
    OPT_HEIGHT, OPT_DEPTH, OPT_ZDEPTH, OPT_DRAW_FPS, OPT_DRAW_TIME, OPT_DRAW_PING,
    OPT_DRAW_RENDER_STATS, OPT_ACCURATE_SKIP, OPT_TRACK, OPT_CONNECT, OPT_PASSWORD,
    OPT_CHASE_CENTER, OPT_OPEN_HOME, OPT_GLFINISH, OPT_PRINT_ORIENTATION,
};

struct OptionRow {
    const char *name;
    OptionKind kind;
    OptionId id;
};

static const OptionRow option_table[] = {
    {"--fugly", FLAG, OPT_FUGLY},
    {"--nosound", FLAG, OPT_NOSOUND},
    {"--novertexarrays", FLAG, OPT_NOVERTEXARRAYS},
    {"--learn", FLAG, OPT_LEARN},
    {"--nolearn", FLAG, OPT_NOLEARN},
    {"--nommx", FLAG, OPT_NOMMX},
    {"--debug", FLAG, OPT_DEBUG},
    {"--super-debug", FLAG, OPT_SUPER_DEBUG},
    {"--practice", FLAG, OPT_PRACTICE},
    {"--warp", FLAG, OPT_WARP},
    {"--texture-detail", INT, OPT_TEXTURE_DETAIL},
    {"--ground-texture-detail", INT, OPT_GROUND_TEXTURE_DETAIL},
    {"--roostfrequency", INT, OPT_ROOSTFREQUENCY},
    {"--erode", REAL, OPT_ERODE},
    {"--detail", REAL, OPT_DETAIL},
    {"--max-detail-distance", REAL, OPT_MAX_DETAIL_DISTANCE},
    {"--lod-scale", REAL, OPT_LOD_SCALE},
    {"--lod-bias", REAL, OPT_LOD_BIAS},
    {"--lock-fps", REAL, OPT_LOCK_FPS},
    {"--fake-lag", REAL, OPT_FAKE_LAG},
    {"--fake-loss", INT, OPT_FAKE_LOSS},
    {"--record-audio", TEXT, OPT_RECORD_AUDIO},
    {"--record-video", FLAG, OPT_RECORD_VIDEO},
    {"--rotate-lineup", UNCHECKED, OPT_ROTATE_LINEUP},
    {"--editor", FLAG, OPT_EDITOR},
    {"--hidden-pause", FLAG, OPT_HIDDEN_PAUSE},
    {"--hidden-hud", FLAG, OPT_HIDDEN_HUD},
    {"--bikes", TEXT, OPT_BIKES},
    {"--width", UNCHECKED, OPT_WIDTH},
    {"--height", UNCHECKED, OPT_HEIGHT},
    {"--depth", LENIENT, OPT_DEPTH},
    {"--zdepth", LENIENT, OPT_ZDEPTH},
    {"--draw-fps", LENIENT, OPT_DRAW_FPS},
    {"--draw-time", LENIENT, OPT_DRAW_TIME},
    {"--draw-ping", LENIENT, OPT_DRAW_PING},
    {"--draw-render-stats", LENIENT, OPT_DRAW_RENDER_STATS},
    {"--accurate-skip", FLAG, OPT_ACCURATE_SKIP},
    {"--track", TEXT, OPT_TRACK},
    {"--connect", TEXT, OPT_CONNECT},
    {"--password", TEXT, OPT_PASSWORD},
    {"--chase-center", TEXT, OPT_CHASE_CENTER},
    {"--open-home", FLAG, OPT_OPEN_HOME},
    {"--glfinish", FLAG, OPT_GLFINISH},
    {"--print-orientation", FLAG, OPT_PRINT_ORIENTATION},
};

static int bad_arg(const char *name)
{
    fprintf(stderr, "Bad arg for %s\n", name);
    return 1;
}

// Applies one matched option. value is null when a value option came last.
// Returns CMDLINE_CONTINUE or an exit status.
static int apply_option(const OptionRow &row, const char *value)
{
    StartupOptions &o = startup_options_edit();
    RenderValues &r = render_values_edit();
    Settings &st = settings_edit();
    int i = 0;
    double d = 0;

    if (row.kind == INT && !read_int(value, &i))
        return bad_arg(row.name);
    if (row.kind == REAL && !read_real(value, &d))
        return bad_arg(row.name);
    if (row.kind == LENIENT) {
        if (!value)
            return CMDLINE_CONTINUE;
        i = lenient_int(value);
    }
    if (row.kind == UNCHECKED && !read_int(value, &i))
        return CMDLINE_CONTINUE;

    switch (row.id) {
    case OPT_FUGLY: o.fugly = true; break;
    case OPT_NOSOUND: o.nosound = true; break;
    case OPT_NOVERTEXARRAYS: o.novertexarrays = true; break;
    case OPT_LEARN: o.learn = true; break;
    case OPT_NOLEARN: o.learn = false; break;
    case OPT_NOMMX:
        if (o.mmx)
            vrak_log("Ignoring MMX\n");
        o.mmx = false;
        o.nommx = true;
        break;
    case OPT_DEBUG: o.debug = 1; break;
    case OPT_SUPER_DEBUG: o.debug = 2; break;
    case OPT_PRACTICE: o.practice = true; break;
    case OPT_WARP: o.warp = true; break;
    case OPT_TEXTURE_DETAIL:
        r.model_texture_skip = r.ground_texture_skip = std::clamp(i, 0, 4);
        break;
    case OPT_GROUND_TEXTURE_DETAIL: r.ground_texture_skip = std::clamp(i, 0, 4); break;
    case OPT_ROOSTFREQUENCY: r.roost_count = std::clamp(i, 0, 1000); break;
    case OPT_ERODE: o.erode = std::clamp(d, 0.0, 100.0); break;
    case OPT_DETAIL: r.ground_detail_factor = d; break;
    case OPT_MAX_DETAIL_DISTANCE:
        o.max_detail_distance = d;
        o.far_detail_distance = d + 5;
        break;
    case OPT_LOD_SCALE: r.lod_scale = std::clamp(d, 1e-6, 1e6); break;
    case OPT_LOD_BIAS: r.lod_bias = d; break;
    case OPT_LOCK_FPS: o.lock_fps = d; break;
    case OPT_FAKE_LAG: o.fake_lag = std::clamp(d * 0.001, 0.0, 1.0); break;
    case OPT_FAKE_LOSS: o.fake_loss = std::clamp(i, 0, 100); break;
    case OPT_RECORD_AUDIO:
        if (value)
            o.record_audio = value;
        break;
    case OPT_RECORD_VIDEO: o.record_video = true; break;
    case OPT_ROTATE_LINEUP: o.rotate_lineup = i; break;
    case OPT_EDITOR: o.editor = true; break;
    case OPT_HIDDEN_PAUSE: o.hidden_pause = true; break;
    case OPT_HIDDEN_HUD: o.hidden_hud = true; break;
    case OPT_BIKES: fprintf(stderr, "--bikes doesn't do anything anymore\n"); break;
    case OPT_WIDTH: st.xres = i; break;
    case OPT_HEIGHT: st.yres = i; break;
    case OPT_DEPTH: o.depth = i; break;
    case OPT_ZDEPTH: o.zdepth = i; break;
    case OPT_DRAW_FPS: st.draw_fps = i; break;
    case OPT_DRAW_TIME: st.draw_time = i; break;
    case OPT_DRAW_PING: st.draw_ping = i; break;
    case OPT_DRAW_RENDER_STATS: o.draw_render_stats = i; break;
    case OPT_ACCURATE_SKIP: o.accurate_skip = true; break;
    case OPT_TRACK:
        if (value)
            o.track = value;
        break;
    case OPT_CONNECT:
        if (value) {
            const char *prefix = "ruttmoor:";
            if (strncmp(value, prefix, strlen(prefix)) == 0)
                value += strlen(prefix);
            o.connect = value;
        }
        break;
    case OPT_PASSWORD:
        if (value)
            o.password = value;
        break;
    case OPT_CHASE_CENTER: {
        float c[3];
        if (!value || sscanf(value, "%f,%f,%f", &c[0], &c[1], &c[2]) != 3)
            return bad_arg(row.name);
        for (int k = 0; k < 3; k++)
            o.chase_center[k] = c[k];
        break;
    }
    case OPT_OPEN_HOME:
        o.open_home = true;
        open_home_folder();
        return 0;
    case OPT_GLFINISH: o.glfinish = true; break;
    case OPT_PRINT_ORIENTATION: o.print_orientation = true; break;
    }
    return CMDLINE_CONTINUE;
}

int parse_command_line(int argc, char **argv)
{
    ArgCursor cursor = {argc, argv, 1};
    bool options_ended = false;
    bool have_file = false;

    while (cursor.index < argc) {
        const char *arg = argv[cursor.index];
        if (!options_ended) {
            bool matched = false;
            for (const OptionRow &row : option_table) {
                const char *value;
                if (take_option(&cursor, row.name, row.kind != FLAG, &value)) {
                    int status = apply_option(row, value);
                    if (status != CMDLINE_CONTINUE)
                        return status;
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
            if (strcmp(arg, "--") == 0) {
                options_ended = true;
                cursor.index++;
                continue;
            }
            if (arg[0] == '-') {
                fprintf(stderr, "bad option '%s'\n", arg);
                return 1;
            }
        }
        if (have_file) {
            fprintf(stderr, "Too many files!\n");
            return 1;
        }
        startup_options_edit().demo_file = arg;
        have_file = true;
        cursor.index++;
    }
    return CMDLINE_CONTINUE;
}
