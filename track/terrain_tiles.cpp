// The tile types of a terrain: the "tileinfo" statement file and the older
// "texturelist".
//
// tileinfo: one statement per line; blanks, tabs and line ends around it are
// stripped and empty lines skipped. The first word is the keyword, the rest of the
// line its arguments. Statements accumulate properties for the tile type being
// defined, and "addtile" stores them as the next type (0, 1, 2, ...):
//   addtile                         store the type, restore the defaults
//   texture NAME                    ground texture
//   friction MU SPEED               one friction point (at most 8)
//   roll_resist LIGHT FULL SPEED    one rolling-resistance point (at most 8)
//   roost KEY=VALUE ...             one roost slot (at most 4); "..." groups blanks
//   erode_depth, erode_lower, erode_upper, erode_displacement, erode_radius,
//   erode_max_slope, erode_off_speed, erode_on_speed VALUE
// A bad statement gives a warning in the log and is ignored.
//
// texturelist: at most 256 lines, one tile type each: "MU LIGHT FULL NAME" or just
// "NAME" (then 1, 5 and 15).
#include "track/terrain_local.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "platform/vrak.h"

static const float MIN_SPEED = 1.0f / 1048576.0f;      // 2^-20: keeps speed 0 from ending a list

static ErosionParams default_erosion()
{
    return {1, 50, 150, 2, 4, 0.25f, 10, 15};
}

static RoostType default_roost()
{
    RoostType r = {};
    r.type = ROOST_ROOST;
    r.texture = intern_string("@roost.png");
    r.count = 10;
    r.dig = 1;
    r.slip_threshold = 4;
    r.slow_angle = 1.57079633f;
    r.fast_angle = 0.19634955f;
    r.slow_speed = 0;
    r.fast_speed = 64;
    r.size = 0.25f;
    r.grow = 4;
    r.drag = 0.5f;
    r.vscale = 1;
    r.randomize = 15;
    r.color[0] = r.color[1] = r.color[2] = r.color[3] = 255;
    r.fade[3] = -2;
    return r;
}

TileType default_tile_type()
{
    TileType tile = {};
    tile.friction[0] = {1.0f, 1.0f};
    tile.friction_count = 1;
    tile.roll_resist[0] = {5, 15, 1.0f};
    tile.roll_resist_count = 1;
    tile.erosion = default_erosion();
    tile.texture = intern_string("");
    return tile;
}

// The tile type being defined. The curves start empty: the default point stands
// only for a curve that no statement gave, not in front of the given ones.
struct TileDraft {
    TileType tile;
    int roost_count;
};

static void reset_draft(TileDraft *d)
{
    d->tile = default_tile_type();
    d->tile.friction_count = 0;
    d->tile.roll_resist_count = 0;
    d->roost_count = 0;
}

static bool read_float(const char *text, float *value)
{
    char *end;
    double v = strtod(text, &end);
    if (end == text || !std::isfinite(v) || fabs(v) > 3.0e38)
        return false;
    *value = (float)v;
    return true;
}

static void add_tile(Terrain *t, TileDraft *d)
{
    if (t->tile_count >= TILE_TYPES_MAX) {
        vrak_log("tileinfo warning: too many tile types\n");
        reset_draft(d);
        return;
    }
    TileType tile = d->tile;
    std::stable_sort(tile.friction, tile.friction + tile.friction_count,
                     [](const FrictionPoint &a, const FrictionPoint &b) {
                         return a.speed < b.speed;
                     });
    std::stable_sort(tile.roll_resist, tile.roll_resist + tile.roll_resist_count,
                     [](const RollResistPoint &a, const RollResistPoint &b) {
                         return a.speed < b.speed;
                     });
    TileType defaults = default_tile_type();
    if (tile.friction_count == 0) {
        tile.friction[0] = defaults.friction[0];
        tile.friction_count = 1;
    }
    if (tile.roll_resist_count == 0) {
        tile.roll_resist[0] = defaults.roll_resist[0];
        tile.roll_resist_count = 1;
    }
    t->tiles.push_back(tile);
    t->tile_count++;
    reset_draft(d);
}

static void parse_friction(TileDraft *d, const char *args)
{
    float mu, speed;
    if (sscanf(args, "%f %f", &mu, &speed) != 2 || !std::isfinite(mu) || !std::isfinite(speed)) {
        vrak_log("tileinfo warning: bad friction parameters\n");
        return;
    }
    if (d->tile.friction_count >= FRICTION_POINTS_MAX) {
        vrak_log("tileinfo warning: too many friction points\n");
        return;
    }
    d->tile.friction[d->tile.friction_count++] = {std::max(mu, 0.0f), std::max(speed, MIN_SPEED)};
}

static void parse_roll_resist(TileDraft *d, const char *args)
{
    float light, full, speed;
    if (sscanf(args, "%f %f %f", &light, &full, &speed) != 3 || !std::isfinite(light) ||
        !std::isfinite(full) || !std::isfinite(speed)) {
        vrak_log("tileinfo warning: bad roll_resist parameters\n");
        return;
    }
    if (d->tile.roll_resist_count >= ROLL_RESIST_POINTS_MAX) {
        vrak_log("tileinfo warning: too many roll_resist points\n");
        return;
    }
    d->tile.roll_resist[d->tile.roll_resist_count++] = {std::max(light, 0.0f),
                                                        std::max(full, 0.0f),
                                                        std::max(speed, MIN_SPEED)};
}

// The argument text split at blanks and tabs; double quotes group text with
// blanks in it and are removed.
static std::vector<std::string> split_words(const char *text)
{
    std::vector<std::string> words;
    const char *p = text;
    while (*p) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p)
            break;
        std::string word;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"')
                quoted = !quoted;
            else
                word += *p;
            p++;
        }
        words.push_back(word);
    }
    return words;
}

static uint8_t to_color_byte(float v)
{
    return (uint8_t)std::clamp(v, 0.0f, 255.0f);
}

// Per second in the file, per tick in the slot.
static int8_t to_fade_byte(float per_second)
{
    return (int8_t)std::clamp(per_second * (float)TICK, -128.0f, 127.0f);
}

enum RoostKey {
    KEY_SPLASH, KEY_COUNT, KEY_DIG, KEY_SLIP, KEY_SLOW_ANGLE, KEY_FAST_ANGLE, KEY_SLOW_SPEED,
    KEY_FAST_SPEED, KEY_SIZE, KEY_GROW, KEY_DRAG, KEY_VSCALE, KEY_RANDOMIZE, KEY_R, KEY_G,
    KEY_B, KEY_A, KEY_FADE_R, KEY_FADE_G, KEY_FADE_B, KEY_FADE_A,
};

static const struct {
    const char *name;
    RoostKey key;
} roost_keys[] = {
    {"splash", KEY_SPLASH}, {"count", KEY_COUNT}, {"dig", KEY_DIG},
    {"slip_threshold", KEY_SLIP}, {"slow_angle", KEY_SLOW_ANGLE},
    {"fast_angle", KEY_FAST_ANGLE}, {"slow_speed", KEY_SLOW_SPEED},
    {"fast_speed", KEY_FAST_SPEED}, {"size", KEY_SIZE}, {"grow", KEY_GROW},
    {"drag", KEY_DRAG}, {"vscale", KEY_VSCALE}, {"randomize", KEY_RANDOMIZE},
    {"r", KEY_R}, {"g", KEY_G}, {"b", KEY_B}, {"a", KEY_A},
    {"fade_r", KEY_FADE_R}, {"fade_g", KEY_FADE_G}, {"fade_b", KEY_FADE_B},
    {"fade_a", KEY_FADE_A},
};

static void apply_roost_key(RoostType *r, RoostKey key, float v)
{
    switch (key) {
    case KEY_SPLASH: if (v != 0) r->type = ROOST_SPLASH; break;
    case KEY_COUNT: r->count = v; break;
    case KEY_DIG: r->dig = v; break;
    case KEY_SLIP: r->slip_threshold = v; break;
    case KEY_SLOW_ANGLE: r->slow_angle = v; break;
    case KEY_FAST_ANGLE: r->fast_angle = v; break;
    case KEY_SLOW_SPEED: r->slow_speed = v; break;
    case KEY_FAST_SPEED: r->fast_speed = v; break;
    case KEY_SIZE: r->size = v; break;
    case KEY_GROW: r->grow = v; break;
    case KEY_DRAG: r->drag = v; break;
    case KEY_VSCALE: r->vscale = v; break;
    case KEY_RANDOMIZE: r->randomize = v; break;
    case KEY_R: r->color[0] = to_color_byte(v); break;
    case KEY_G: r->color[1] = to_color_byte(v); break;
    case KEY_B: r->color[2] = to_color_byte(v); break;
    case KEY_A: r->color[3] = to_color_byte(v); break;
    case KEY_FADE_R: r->fade[0] = to_fade_byte(v); break;
    case KEY_FADE_G: r->fade[1] = to_fade_byte(v); break;
    case KEY_FADE_B: r->fade[2] = to_fade_byte(v); break;
    case KEY_FADE_A: r->fade[3] = to_fade_byte(v); break;
    }
}

// A bad word is warned about and skipped; the rest of the line still fills the slot.
static void parse_roost(TileDraft *d, const char *args)
{
    if (d->roost_count >= ROOST_SLOTS) {
        vrak_log("tileinfo warning: too many roost types\n");
        return;
    }
    RoostType r = default_roost();
    for (const std::string &word : split_words(args)) {
        size_t eq = word.find('=');
        std::string name = eq == std::string::npos ? word : word.substr(0, eq);
        const char *value = eq == std::string::npos ? "" : word.c_str() + eq + 1;
        if (eq != std::string::npos && name == "texture") {
            r.texture = intern_string(value);
            continue;
        }
        int found = -1;
        if (eq != std::string::npos) {
            for (int k = 0; k < (int)(sizeof roost_keys / sizeof roost_keys[0]); k++) {
                if (name == roost_keys[k].name)
                    found = k;
            }
        }
        if (found < 0) {
            vrak_log("tileinfo warning: unknown roost parameter '%.40s'\n", word.c_str());
            continue;
        }
        float v;
        if (!read_float(value, &v)) {
            vrak_log("tileinfo warning: bad %s\n", roost_keys[found].name);
            continue;
        }
        apply_roost_key(&r, roost_keys[found].key, v);
    }
    d->tile.roost[d->roost_count++] = r;
}

static bool parse_erosion(TileDraft *d, const char *keyword, const char *args)
{
    static const char *const names[] = {
        "erode_depth", "erode_lower", "erode_upper", "erode_displacement",
        "erode_radius", "erode_max_slope", "erode_off_speed", "erode_on_speed",
    };
    float *fields[] = {
        &d->tile.erosion.depth, &d->tile.erosion.lower, &d->tile.erosion.upper,
        &d->tile.erosion.displacement, &d->tile.erosion.radius, &d->tile.erosion.max_slope,
        &d->tile.erosion.off_speed, &d->tile.erosion.on_speed,
    };
    for (int i = 0; i < 8; i++) {
        if (strcmp(keyword, names[i]) != 0)
            continue;
        float v;
        if (!read_float(args, &v))
            vrak_log("tileinfo warning: bad %s\n", names[i]);
        else
            *fields[i] = v;
        return true;
    }
    return false;
}

// One line without its end, any length; false at the end of the file.
static bool read_line(DataFile *file, std::string *line)
{
    line->clear();
    int c = data_getc(file);
    if (c == DATA_EOF)
        return false;
    while (c != DATA_EOF && c != '\n') {
        line->push_back((char)c);
        c = data_getc(file);
    }
    return true;
}

static std::string trim(const std::string &text)
{
    const char *blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

static void read_tileinfo(Terrain *t, DataFile *file)
{
    TileDraft draft;
    reset_draft(&draft);
    std::string line;
    while (read_line(file, &line)) {
        std::string statement = trim(line);
        if (statement.empty())
            continue;
        size_t split = statement.find_first_of(" \t");
        std::string keyword = statement.substr(0, split);
        std::string args = split == std::string::npos ? "" : trim(statement.substr(split));
        const char *a = args.c_str();
        if (keyword == "addtile")
            add_tile(t, &draft);
        else if (keyword == "texture")
            draft.tile.texture = intern_string(a);
        else if (keyword == "friction")
            parse_friction(&draft, a);
        else if (keyword == "roll_resist")
            parse_roll_resist(&draft, a);
        else if (keyword == "roost")
            parse_roost(&draft, a);
        else if (!parse_erosion(&draft, keyword.c_str(), a))
            vrak_log("tileinfo warning: Unknown identifier '%.950s'\n", keyword.c_str());
    }
}

static void read_texturelist(Terrain *t, DataFile *file)
{
    std::string line;
    while (t->tile_count < TILE_TYPES_MAX && read_line(file, &line)) {
        std::string text = trim(line);
        if (text.empty())
            continue;
        float mu, light, full;
        int used = 0;
        TileType tile = default_tile_type();
        tile.roost[0] = default_roost();
        const char *name = text.c_str();
        if (sscanf(name, "%f %f %f %n", &mu, &light, &full, &used) == 3 && used > 0 &&
            std::isfinite(mu) && std::isfinite(light) && std::isfinite(full)) {
            tile.friction[0].mu = std::max(mu, 0.0f);
            tile.roll_resist[0].light = std::max(light, 0.0f);
            tile.roll_resist[0].full = std::max(full, 0.0f);
            name += used;
        }
        tile.texture = intern_string(name);
        t->tiles.push_back(tile);
        t->tile_count++;
    }
}

bool terrain_read_tiles(Terrain *t)
{
    t->tiles.clear();
    t->tile_count = 0;
    std::string name = "@" + t->directory + "/tileinfo";
    DataFile *file = data_open(name.c_str(), "rb");
    if (file) {
        read_tileinfo(t, file);
    } else {
        name = "@" + t->directory + "/texturelist";
        file = data_open(name.c_str(), "rb");
        if (!file) {
            vrak_log("Can't open '%.950s'\n", name.c_str());
            return false;
        }
        read_texturelist(t, file);
    }
    data_close(file);
    // Every tile map byte must name a tile type, so a file that defines none
    // still gives the terrain one type with the default properties.
    if (t->tile_count == 0) {
        vrak_log("tileinfo warning: no tile types, using the defaults\n");
        t->tiles.push_back(default_tile_type());
        t->tile_count = 1;
    }
    return true;
}
