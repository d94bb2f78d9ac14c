// The track description reader. A description is a text file, one statement per
// line; '#' starts a comment that runs to the end of the line, blank lines are
// skipped. The file name without its extension is the track directory name.
// Distances "along" the course are measured on the centre line from the first
// point, which is also where the finish line lies. All lengths are in feet.
//
//   name TEXT...                    display name (the rest of the line)
//   size K CELL                     height field of 2^(K+1)+1 samples a side, CELL ft apart
//   hills SEED HEIGHT WAVELENGTH    rolling ground: sums of sines, fixed-seed directions
//   point X Z WIDTH BANK            next centre line control point (closed loop, in
//                                   order), course width there and the berm angle in
//                                   degrees used where the course turns
//   double FROM TO HEIGHT           two humps: take-off, gap, landing, within FROM..TO
//   tabletop FROM TO HEIGHT         one hump with a flat top
//   whoops FROM TO HEIGHT           a row of rounded bumps
//   surface FROM TO TILE            ground of the course between FROM and TO
//   default_surface TILE            ground of the rest of the course
//                                   TILE: grass, hardpack, loam, sand or mud
//   sun X Y Z / sun_color R G B / ambient R G B / fog R G B DENSITY   lighting
//   start AT COUNT ROWS             starting gates AT ft past the line, COUNT across
//   checkpoints SPACING             checkpoint spacing along the course (50..250 ft)
//   cameras COUNT HEIGHT            TV cameras spread round the course
//   trees COUNT SEED                tree billboards scattered off the course
//   crowd FROM TO SPACING           spectator billboards along both edges
//   tuffblocks FROM TO SPACING      tuff blocks along both edges
//   banners FROM TO SPACING         banners along both edges
//   flagger walking AT | flagger lap | flagger checkpoint AT
#include "tools/trackgen.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const char *path;
    int line;
    std::string *error;
};

bool fail(Reader *r, const char *what)
{
    char text[512];
    snprintf(text, sizeof text, "%s:%d: %s", r->path, r->line, what);
    *r->error = text;
    return false;
}

std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            i++;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            i++;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool to_float(const std::string &word, float *out)
{
    char *end;
    double v = strtod(word.c_str(), &end);
    if (end == word.c_str() || *end || !std::isfinite(v) || fabs(v) > 1e7)
        return false;
    *out = (float)v;
    return true;
}

// Reads words[1..count] as numbers; complains about the statement otherwise.
bool numbers(Reader *r, const std::vector<std::string> &words, int count, float *out)
{
    if ((int)words.size() != count + 1) {
        char text[128];
        snprintf(text, sizeof text, "'%.40s' takes %d numbers", words[0].c_str(), count);
        return fail(r, text);
    }
    for (int i = 0; i < count; i++) {
        if (!to_float(words[i + 1], &out[i])) {
            char text[128];
            snprintf(text, sizeof text, "bad number '%.40s'", words[i + 1].c_str());
            return fail(r, text);
        }
    }
    return true;
}

int tile_named(const std::string &name)
{
    static const char *const names[TRACKGEN_TILE_COUNT] = {"grass", "hardpack", "loam", "sand",
                                                           "mud"};
    for (int i = 0; i < TRACKGEN_TILE_COUNT; i++) {
        if (name == names[i])
            return i;
    }
    return -1;
}

bool range(Reader *r, float from, float to)
{
    if (!(from >= 0 && to > from))
        return fail(r, "a range needs 0 <= FROM < TO");
    return true;
}

bool read_objects(Reader *r, const std::vector<std::string> &w, std::vector<TrackObjectRange> *out)
{
    float v[3];
    if (!numbers(r, w, 3, v) || !range(r, v[0], v[1]))
        return false;
    if (!(v[2] >= 2))
        return fail(r, "spacing must be at least 2 ft");
    out->push_back({v[0], v[1], v[2]});
    return true;
}

bool statement(Reader *r, const std::vector<std::string> &w, const std::string &rest,
               TrackDesc *d)
{
    const std::string &key = w[0];
    float v[4];
    if (key == "name") {
        if (rest.empty())
            return fail(r, "'name' needs a text");
        d->name = rest;
    } else if (key == "size") {
        if (!numbers(r, w, 2, v))
            return false;
        if (v[0] != floorf(v[0]) || v[0] < 5 || v[0] > 11 || !(v[1] >= 0.25f && v[1] <= 8))
            return fail(r, "size needs K in 5..11 and CELL in 0.25..8");
        d->size_log2 = (int)v[0];
        d->cell = v[1];
    } else if (key == "hills") {
        if (!numbers(r, w, 3, v))
            return false;
        if (v[0] < 0 || v[0] != floorf(v[0]) || v[1] < 0 || !(v[2] >= 50))
            return fail(r, "hills needs SEED >= 0, HEIGHT >= 0, WAVELENGTH >= 50");
        d->hill_seed = (uint32_t)v[0];
        d->hill_height = v[1];
        d->hill_wavelength = v[2];
    } else if (key == "point") {
        if (!numbers(r, w, 4, v))
            return false;
        if (!(v[2] >= 20 && v[2] <= 200) || fabsf(v[3]) > 35)
            return fail(r, "point needs WIDTH in 20..200 and BANK within 35 degrees");
        d->points.push_back({v[0], v[1], v[2], v[3]});
    } else if (key == "double" || key == "tabletop" || key == "whoops") {
        if (!numbers(r, w, 3, v) || !range(r, v[0], v[1]))
            return false;
        if (!(v[2] > 0 && v[2] <= 15))
            return fail(r, "feature HEIGHT must be in 0..15 ft");
        TrackFeatureKind kind = key == "double"     ? FEATURE_DOUBLE
                                : key == "tabletop" ? FEATURE_TABLETOP
                                                    : FEATURE_WHOOPS;
        d->features.push_back({kind, v[0], v[1], v[2]});
    } else if (key == "surface") {
        if (w.size() != 4 || !to_float(w[1], &v[0]) || !to_float(w[2], &v[1]))
            return fail(r, "surface needs FROM TO TILE");
        int tile = tile_named(w[3]);
        if (tile < 0)
            return fail(r, "unknown tile type");
        if (!range(r, v[0], v[1]))
            return false;
        d->surfaces.push_back({v[0], v[1], tile});
    } else if (key == "default_surface") {
        int tile = w.size() == 2 ? tile_named(w[1]) : -1;
        if (tile < 0)
            return fail(r, "default_surface needs a tile type");
        d->default_surface = tile;
    } else if (key == "sun" || key == "sun_color" || key == "ambient") {
        if (!numbers(r, w, 3, v))
            return false;
        float *out = key == "sun" ? d->sun : key == "sun_color" ? d->sun_color : d->ambient;
        for (int i = 0; i < 3; i++)
            out[i] = v[i];
        if (key == "sun" && !(d->sun[1] > 0.05f))
            return fail(r, "the sun must be above the horizon");
    } else if (key == "fog") {
        if (!numbers(r, w, 4, v))
            return false;
        d->fog = true;
        for (int i = 0; i < 3; i++)
            d->fog_color[i] = v[i];
        d->fog_density = v[3];
    } else if (key == "start") {
        if (!numbers(r, w, 3, v))
            return false;
        if (v[0] < 0 || v[1] < 1 || v[1] > 160 || v[1] != floorf(v[1]) || v[2] < 1 ||
            v[2] != floorf(v[2]) || v[1] * v[2] > 160)
            return fail(r, "start needs AT >= 0, COUNT 1..160, ROWS >= 1");
        d->start_at = v[0];
        d->start_count = (int)v[1];
        d->start_rows = (int)v[2];
    } else if (key == "checkpoints") {
        if (!numbers(r, w, 1, v))
            return false;
        if (!(v[0] >= 50 && v[0] <= 250))
            return fail(r, "checkpoint spacing must be 50..250 ft");
        d->checkpoint_spacing = v[0];
    } else if (key == "cameras") {
        if (!numbers(r, w, 2, v))
            return false;
        if (v[0] < 0 || v[0] > 64 || v[0] != floorf(v[0]))
            return fail(r, "cameras needs COUNT 0..64");
        d->camera_count = (int)v[0];
        d->camera_height = v[1];
    } else if (key == "trees") {
        if (!numbers(r, w, 2, v))
            return false;
        if (v[0] < 0 || v[0] > 20000 || v[0] != floorf(v[0]) || v[1] < 0)
            return fail(r, "trees needs COUNT 0..20000 and SEED >= 0");
        d->tree_count = (int)v[0];
        d->tree_seed = (uint32_t)v[1];
    } else if (key == "crowd") {
        return read_objects(r, w, &d->crowds);
    } else if (key == "tuffblocks") {
        return read_objects(r, w, &d->tuffblocks);
    } else if (key == "banners") {
        return read_objects(r, w, &d->banners);
    } else if (key == "flagger") {
        if (w.size() == 2 && w[1] == "lap") {
            d->lap_flagger = true;
        } else if (w.size() == 3 && (w[1] == "walking" || w[1] == "checkpoint") &&
                   to_float(w[2], &v[0]) && v[0] >= 0) {
            if (w[1] == "walking") {
                d->walking_flagger = true;
                d->walking_flagger_at = v[0];
            } else {
                d->checkpoint_flaggers.push_back(v[0]);
            }
        } else {
            return fail(r, "flagger needs 'lap', 'walking AT' or 'checkpoint AT'");
        }
    } else {
        char text[128];
        snprintf(text, sizeof text, "unknown statement '%.40s'", key.c_str());
        return fail(r, text);
    }
    return true;
}

std::string directory_of(const char *path)
{
    std::string name = path;
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name = name.substr(0, dot);
    return name;
}

} // namespace

bool parse_track_desc(const char *path, const std::string &text, TrackDesc *out,
                      std::string *error)
{
    Reader r = {path, 0, error};
    TrackDesc d;
    d.dir = directory_of(path);
    bool named_ok = !d.dir.empty();
    for (char c : d.dir)
        named_ok = named_ok && (isalnum((unsigned char)c) || c == '_' || c == '-');
    if (!named_ok)
        return fail(&r, "the file name must be a plain track directory name");
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        r.line++;
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        std::vector<std::string> words = split(line);
        if (words.empty())
            continue;
        size_t key_end = line.find(words[0]) + words[0].size();
        std::string rest = line.substr(key_end);
        size_t a = rest.find_first_not_of(" \t\r"), b = rest.find_last_not_of(" \t\r");
        rest = a == std::string::npos ? "" : rest.substr(a, b - a + 1);
        if (!statement(&r, words, rest, &d))
            return false;
    }
    r.line = 0;
    if (d.points.size() < 4)
        return fail(&r, "a course needs at least 4 points");
    if (d.name.empty())
        d.name = d.dir;
    for (size_t i = 0; i < d.points.size(); i++) {
        const TrackPoint &a = d.points[i], &b = d.points[(i + 1) % d.points.size()];
        if (hypotf(a.x - b.x, a.z - b.z) < 10)
            return fail(&r, "two neighbouring points are closer than 10 ft");
    }
    float extent = (float)(1 << (d.size_log2 + 1)) * d.cell;
    for (const TrackPoint &p : d.points) {
        float reach = p.width * 0.5f + 8;
        if (p.x - reach < 0 || p.z - reach < 0 || p.x + reach > extent || p.z + reach > extent)
            return fail(&r, "a point lies too close to the edge of the field");
    }
    *out = d;
    return true;
}

bool read_track_desc(const char *path, TrackDesc *out, std::string *error)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        *error = std::string(path) + ": cannot open";
        return false;
    }
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, got);
    fclose(f);
    return parse_track_desc(path, text, out, error);
}
