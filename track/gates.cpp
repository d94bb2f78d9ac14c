// Timing gates: reading and writing the track's "timing_gates" file, the lap layout
// arithmetic (race gate -> lap entry, lap ends, line segments) and the per-racer
// crossing test that turns a front wheel position into gate times.
#include "track/gates.h"

#include "track/terrain.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/datafile.h"
#include "core/options.h"
#include "platform/vrak.h"
#include "track/track.h"

enum {
    MAX_FILE_BYTES = 16 << 20,  // far beyond any real gate file; the rest is not read
    KEYWORD_CHARS = 80,
    NAME_CHARS = 1023,
};

static const char *const DEFAULT_MODEL = "@startgate.vm";
static const char *const DEFAULT_TEXTURE = "@startgate.ppm";
static const char *const DEFAULT_SHAPE = "@startgate.shp";

static void no_sample(GateProgress *, int32_t) {}
static void no_crossing(GateProgress *, int, int32_t) {}
static void no_racer_event(GateProgress *) {}
static void no_order_update() {}
static int32_t no_leader() { return 0; }
static void no_timing_loaded(int, int) {}

static const GateHooks default_hooks = {
    no_sample, no_crossing, no_racer_event, no_racer_event, no_order_update, no_leader,
    no_timing_loaded,
};

static struct {
    TimingTables tables;
    // first_lines_before[i]: entries without the flag among first-lap entries 0..i-1;
    // likewise for the normal lap. They make segment_index constant time.
    int first_lines_before[MAX_LAP_ENTRIES + 1];
    int normal_lines_before[MAX_LAP_ENTRIES + 1];
    GateHooks hooks = default_hooks;
} gates;

void gates_set_hooks(const GateHooks *hooks)
{
    GateHooks h = hooks ? *hooks : default_hooks;
    if (!h.line_sample)
        h.line_sample = no_sample;
    if (!h.line_crossing)
        h.line_crossing = no_crossing;
    if (!h.line_finished)
        h.line_finished = no_racer_event;
    if (!h.line_reset)
        h.line_reset = no_racer_event;
    if (!h.update_running_order)
        h.update_running_order = no_order_update;
    if (!h.leader_gates_passed)
        h.leader_gates_passed = no_leader;
    if (!h.timing_loaded)
        h.timing_loaded = no_timing_loaded;
    gates.hooks = h;
}

const TimingTables &timing_tables()
{
    return gates.tables;
}

TimingTables &timing_tables_edit()
{
    return gates.tables;
}

void free_timing_gates()
{
    memset(&gates.tables, 0, sizeof gates.tables);
    memset(gates.first_lines_before, 0, sizeof gates.first_lines_before);
    memset(gates.normal_lines_before, 0, sizeof gates.normal_lines_before);
}

// ---------------------------------------------------------------------------
// A scanf-like cursor over the file's text. It matches what "%f", "%d", "%Ns" and
// literal characters after a blank would do, but never reads past the text and
// refuses numbers that are not finite (a gate at infinity would only poison the
// arithmetic that follows).

struct Cursor {
    const char *p;
    const char *end;
};

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

static void skip_blanks(Cursor *c)
{
    while (c->p < c->end && is_blank(*c->p))
        c->p++;
}

static bool match_char(Cursor *c, char ch)
{
    skip_blanks(c);
    if (c->p >= c->end || *c->p != ch)
        return false;
    c->p++;
    return true;
}

// The text handed to a cursor always ends in a NUL at c->end, so strtof and strtoll
// stop there at the latest.
static bool read_float(Cursor *c, float *value)
{
    skip_blanks(c);
    char *after;
    float v = strtof(c->p, &after);
    if (after == c->p || !std::isfinite(v))
        return false;
    c->p = after;
    *value = v;
    return true;
}

static bool read_int(Cursor *c, int32_t *value)
{
    skip_blanks(c);
    char *after;
    long long v = strtoll(c->p, &after, 10);
    if (after == c->p)
        return false;
    c->p = after;
    if (v > INT32_MAX)
        v = INT32_MAX;
    if (v < INT32_MIN)
        v = INT32_MIN;
    *value = (int32_t)v;
    return true;
}

// Like "%Ns": up to max_chars non-blank characters; false at the end of the text.
static bool read_word(Cursor *c, std::string *word, int max_chars)
{
    skip_blanks(c);
    const char *start = c->p;
    while (c->p < c->end && !is_blank(*c->p) && c->p - start < max_chars)
        c->p++;
    word->assign(start, c->p);
    return c->p > start;
}

static bool starts_with(const char *p, const char *end, const char *prefix)
{
    size_t n = strlen(prefix);
    return (size_t)(end - p) >= n && memcmp(p, prefix, n) == 0;
}

// ---------------------------------------------------------------------------
// Reading

static float normalise_angle(float angle)
{
    if (angle >= -(float)M_PI && angle <= (float)M_PI)
        return angle;
    double turns = (angle + M_PI) / (2 * M_PI);
    return (float)((turns - floor(turns)) * 2 * M_PI - M_PI);
}

static const char *gate_name(const std::string &word, const char *fallback)
{
    if (word.empty())
        return fallback;
    if (word == "null")
        return nullptr;
    return intern_string(word.c_str());
}

// One starting gate line: "[ x y z ] angle [model [texture [shape]]]". Returns the
// number of values read, as scanf would; fewer than 4 ends the section.
static int parse_gate_line(const std::string &line, StartingGate *gate)
{
    Cursor c = {line.c_str(), line.c_str() + line.size()};
    float v[4];
    int count = 0;
    if (!match_char(&c, '['))
        return 0;
    for (int i = 0; i < 3; i++) {
        if (!read_float(&c, &v[i]))
            return count;
        count++;
    }
    if (!match_char(&c, ']') || !read_float(&c, &v[3]))
        return count;
    count++;
    std::string names[3];
    for (int i = 0; i < 3 && read_word(&c, &names[i], NAME_CHARS); i++)
        count++;
    gate->x = v[0];
    gate->y = v[1];
    gate->z = v[2];
    gate->angle = normalise_angle(v[3]);
    gate->model = gate_name(names[0], DEFAULT_MODEL);
    gate->texture = gate_name(names[1], DEFAULT_TEXTURE);
    gate->shape = gate_name(names[2], DEFAULT_SHAPE);
    gate->bar = 1;
    return count;
}

// The starting gate section: one gate per line until a line that starts with
// "checkpoints:" (true, with the cursor just after that word) or a line that is not
// a gate. Blank lines are passed over. Gates beyond the table's size are read and
// dropped so that the checkpoints after them still count.
static bool read_starting_gates(Cursor *c)
{
    TimingTables &t = gates.tables;
    while (c->p < c->end) {
        const char *line_start = c->p;
        const char *line_end = (const char *)memchr(c->p, '\n', c->end - c->p);
        if (!line_end)
            line_end = c->end;
        c->p = line_end < c->end ? line_end + 1 : c->end;

        const char *first = line_start;
        while (first < line_end && is_blank(*first))
            first++;
        if (first == line_end)
            continue;
        if (starts_with(first, line_end, "checkpoints:")) {
            c->p = first + strlen("checkpoints:");
            return true;
        }
        StartingGate gate = {};
        if (parse_gate_line(std::string(line_start, line_end), &gate) < 4)
            return false;
        if (t.starting_gate_count >= MAX_STARTING_GATES)
            continue;
        // The gate object stands 3 ft ahead of the front row at the file's world y;
        // statues are placed by their height above the ground there.
        float s = sinf(gate.angle), co = cosf(gate.angle);
        float gx = gate.x - 3 * s, gz = gate.z - 3 * co;
        const Terrain *ground = track_terrain();
        float height = ground ? gate.y - terrain_height(ground, gx, gz) : gate.y;
        gate.statue = create_statue(gx, height, gz, gate.angle, gate.model, gate.texture,
                                    gate.shape);
        t.starting_gates[t.starting_gate_count++] = gate;
    }
    return false;
}

static void read_checkpoints(Cursor *c)
{
    TimingTables &t = gates.tables;
    for (;;) {
        TimingGate g = {};
        if (!read_float(c, &g.radius) || !match_char(c, '[') || !read_float(c, &g.x) ||
            !read_float(c, &g.y) || !read_float(c, &g.z) || !match_char(c, ']') ||
            !match_char(c, '[') || !read_float(c, &g.dx) || !read_float(c, &g.dy) ||
            !read_float(c, &g.dz) || !match_char(c, ']'))
            return;
        if (t.checkpoint_count < MAX_TIMING_GATES)
            t.checkpoints[t.checkpoint_count++] = g;
    }
}

// Integers while they parse; the first MAX_LAP_ENTRIES are kept.
static int read_lap_list(Cursor *c, int32_t *entries)
{
    int count = 0;
    int32_t v;
    while (read_int(c, &v)) {
        if (count < MAX_LAP_ENTRIES)
            entries[count++] = v;
    }
    return count;
}

static int32_t normalise_entry(int32_t v, int checkpoint_count)
{
    if (v < 0)
        return 0;
    int32_t flag = v >= TIMING_ONLY_FLAG ? TIMING_ONLY_FLAG : 0;
    int32_t index = v % TIMING_ONLY_FLAG;
    if (index > checkpoint_count - 1)
        index = checkpoint_count - 1;
    return flag + index;
}

// Validates the lists just read; the timing is kept only when both laps have at
// least one gate where a line can start.
static void accept_layout(const int32_t *first, int first_count, const int32_t *normal,
                          int normal_count)
{
    TimingTables &t = gates.tables;
    if (t.checkpoint_count > 0 && first_count > 0 && normal_count > 0) {
        t.first_lap_count = first_count;
        t.normal_lap_count = normal_count;
        t.first_lap_lines = t.normal_lap_lines = 0;
        for (int i = 0; i < first_count + normal_count; i++) {
            int32_t v = i < first_count ? first[i] : normal[i - first_count];
            t.lap_entries[i] = normalise_entry(v, t.checkpoint_count);
        }
        gates.first_lines_before[0] = gates.normal_lines_before[0] = 0;
        for (int i = 0; i < first_count; i++) {
            bool line = t.lap_entries[i] < TIMING_ONLY_FLAG;
            gates.first_lines_before[i + 1] = gates.first_lines_before[i] + line;
        }
        for (int i = 0; i < normal_count; i++) {
            bool line = t.lap_entries[first_count + i] < TIMING_ONLY_FLAG;
            gates.normal_lines_before[i + 1] = gates.normal_lines_before[i] + line;
        }
        t.first_lap_lines = gates.first_lines_before[first_count];
        t.normal_lap_lines = gates.normal_lines_before[normal_count];
        if (t.first_lap_lines > 0 && t.normal_lap_lines > 0) {
            gates.hooks.timing_loaded(t.first_lap_lines, t.normal_lap_lines);
            return;
        }
    }
    t.checkpoint_count = 0;
    t.first_lap_count = t.normal_lap_count = 0;
    t.first_lap_lines = t.normal_lap_lines = 0;
    memset(t.lap_entries, 0, sizeof t.lap_entries);
}

static bool read_whole_file(const char *name, std::string *text)
{
    DataFile *file = data_open(name, "rb");
    if (!file)
        return false;
    char block[4096];
    size_t got;
    while (text->size() < MAX_FILE_BYTES && (got = data_read(file, block, sizeof block)) > 0)
        text->append(block, got);
    data_close(file);
    // A NUL would end strtof early and is no part of a text file: read it as a blank.
    for (char &ch : *text) {
        if (ch == '\0')
            ch = ' ';
    }
    return true;
}

// "timing_gates" is whitespace-separated text in up to four sections, each
// optional but in this order:
//   startinggate:                    one gate per line:
//     [ x y z ] angle [model texture shape]
//                                    names default to @startgate.vm, @startgate.ppm,
//                                    @startgate.shp; "null" means none; angle in
//                                    radians, brought into [-pi, pi]; at most 160
//   checkpoints:                     radius [ x y z ] [ dx dy dz ], at most 256:
//                                    a horizontal circle and the direction that
//                                    counts as "through"
//   firstlap:                        checkpoint indices of the first lap, at most 256
//   normallap:                       checkpoint indices of every further lap
// A lap entry 100000 + i is checkpoint i as a timing-only gate. Negative entries
// become 0; indices beyond the last checkpoint become the last checkpoint.
void load_timing_gates(const char *directory)
{
    free_timing_gates();
    std::string text;
    std::string name = std::string("@") + directory + "/timing_gates";
    if (read_whole_file(name.c_str(), &text)) {
        Cursor c = {text.c_str(), text.c_str() + text.size()};
        std::string word;
        read_word(&c, &word, KEYWORD_CHARS);
        bool checkpoints = word == "checkpoints:";
        if (word == "startinggate:")
            checkpoints = read_starting_gates(&c);
        if (checkpoints)
            read_checkpoints(&c);

        int32_t first[MAX_LAP_ENTRIES], normal[MAX_LAP_ENTRIES];
        int first_count = 0, normal_count = 0;
        if (read_word(&c, &word, KEYWORD_CHARS) && word == "firstlap:")
            first_count = read_lap_list(&c, first);
        if (read_word(&c, &word, KEYWORD_CHARS) && word == "normallap:")
            normal_count = read_lap_list(&c, normal);
        accept_layout(first, first_count, normal, normal_count);
    }
    const TimingTables &t = gates.tables;
    if (startup_options().debug)
        vrak_log("Found %d timing gates, first lap has %d gates, normal lap has %d\n",
                 t.checkpoint_count, t.first_lap_count, t.normal_lap_count);
}

// ---------------------------------------------------------------------------
// Writing

static const char *name_or_null(const char *name)
{
    return name ? name : "null";
}

static bool has_default_names(const StartingGate &g)
{
    return g.model && g.texture && g.shape && strcmp(g.model, DEFAULT_MODEL) == 0 &&
           strcmp(g.texture, DEFAULT_TEXTURE) == 0 && strcmp(g.shape, DEFAULT_SHAPE) == 0;
}

static bool write_timing_gates(DataFile *out)
{
    const TimingTables &t = gates.tables;
    bool ok = true;
    if (t.starting_gate_count > 0) {
        ok = data_puts(out, "startinggate:\n") && ok;
        for (int i = 0; i < t.starting_gate_count; i++) {
            const StartingGate &g = t.starting_gates[i];
            ok = data_printf(out, "[%f %f %f] %f", g.x, g.y, g.z, g.angle) >= 0 && ok;
            if (has_default_names(g))
                ok = data_puts(out, "\n") && ok;
            else
                ok = data_printf(out, " %.1023s %.1023s %.1023s\n", name_or_null(g.model),
                                 name_or_null(g.texture), name_or_null(g.shape)) >= 0 && ok;
        }
    }
    if (t.checkpoint_count > 0) {
        ok = data_puts(out, "checkpoints:\n") && ok;
        for (int i = 0; i < t.checkpoint_count; i++) {
            const TimingGate &g = t.checkpoints[i];
            ok = data_printf(out, "%f [%f %f %f] [%f %f %f]\n", g.radius, g.x, g.y, g.z, g.dx,
                             g.dy, g.dz) >= 0 && ok;
        }
    }
    const char *titles[2] = {"firstlap:\n", "normallap:\n"};
    int counts[2] = {t.first_lap_count, t.normal_lap_count};
    const int32_t *entries = t.lap_entries;
    for (int list = 0; list < 2; list++) {
        if (counts[list] <= 0)
            continue;
        ok = data_puts(out, titles[list]) && ok;
        for (int i = 0; i < counts[list]; i++)
            ok = data_printf(out, "%d ", entries[i]) >= 0 && ok;
        ok = data_puts(out, "\n") && ok;
        entries += counts[list];
    }
    return data_flush(out) && ok;
}

// Replacing files in the home directory: the new text goes to name + ".part" beside
// the old file and is renamed over it, so a failed write never leaves half a file.
// The paths are spelled out because an "@" name that cannot be created in the home
// directory would be written into the game data instead, away from the rename.
static bool home_path(const std::string &relative, std::string *path)
{
    const char *home = home_dir();
    if (!home)
        return false;
    *path = home + relative;
    return true;
}

static bool replace_home_file(const std::string &relative, bool (*write)(DataFile *out, void *),
                              void *context)
{
    std::string path, temp;
    if (!home_path(relative, &path))
        return false;
    temp = path + ".part";
    DataFile *out = data_open(temp.c_str(), "wb");
    if (!out)
        return false;
    bool ok = write(out, context);
    data_close(out);
    if (!ok || !data_rename(temp.c_str(), path.c_str())) {
        data_remove(temp.c_str());
        return false;
    }
    return true;
}

static bool write_timing_gates_file(DataFile *out, void *)
{
    return write_timing_gates(out);
}

bool save_timing_gates(const char *directory)
{
    if (!replace_home_file(std::string(directory) + "/timing_gates", write_timing_gates_file,
                           nullptr)) {
        game_message("Can't open 'timing_gates'\n");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Lap layout arithmetic

int race_gate_entry(int g)
{
    const TimingTables &t = gates.tables;
    if (g < 0 || t.checkpoint_count == 0)
        return -1;
    if (g < t.first_lap_count)
        return t.lap_entries[g];
    return t.lap_entries[t.first_lap_count + (g - t.first_lap_count) % t.normal_lap_count];
}

int race_gate_checkpoint(int g)
{
    int entry = race_gate_entry(g);
    return entry < 0 ? -1 : entry % TIMING_ONLY_FLAG;
}

bool race_gate_timing_only(int g)
{
    return race_gate_entry(g) >= TIMING_ONLY_FLAG;
}

int64_t lap_end_gate(int64_t k)
{
    const TimingTables &t = gates.tables;
    return t.first_lap_count + (int64_t)t.normal_lap_count * (k - 1) - 1;
}

bool is_lap_end(int g)
{
    const TimingTables &t = gates.tables;
    if (t.checkpoint_count == 0)
        return false;
    int after = g + 1 - t.first_lap_count;
    return after >= 0 && after % t.normal_lap_count == 0;
}

int segment_index(int g)
{
    const TimingTables &t = gates.tables;
    if (t.checkpoint_count == 0 || g <= 0)
        return 0;
    if (g < t.first_lap_count)
        return gates.first_lines_before[g];
    int into = g - t.first_lap_count;
    return t.first_lap_lines + into / t.normal_lap_count * t.normal_lap_lines +
           gates.normal_lines_before[into % t.normal_lap_count];
}

// ---------------------------------------------------------------------------
// Racer progress

int32_t gate_time(const GateProgress *racer, int g)
{
    if (g < 0 || (size_t)g >= racer->times.size())
        return -1;
    return racer->times[g];
}

void laps_completed(const GateProgress *racer, int *laps, int *gates_into_lap)
{
    const TimingTables &t = gates.tables;
    int p = racer->gates_passed;
    if (t.checkpoint_count == 0) {
        *laps = *gates_into_lap = 0;
    } else if (p < t.first_lap_count) {
        *laps = 0;
        *gates_into_lap = p;
    } else {
        *laps = (p - t.first_lap_count) / t.normal_lap_count + 1;
        *gates_into_lap = (p - t.first_lap_count) % t.normal_lap_count;
    }
}

void set_gates_passed(GateProgress *racer, int n)
{
    if (n < 0)
        n = 0;
    if (n < racer->gates_passed)
        racer->finished = false;
    racer->gates_passed = n;
    if (racer->times.size() > (size_t)n)
        racer->times.items.resize(n);
    gates.hooks.line_reset(racer);
}

// Which of the nearby gates the wheel has just crossed, or -1. The gate just passed
// (p - 1) is never looked at, so standing in it does nothing; the three before it may
// be collected again only once a missed one has been seen, and the end of a lap that
// has no time stops the scan: a lap end can never be skipped.
static int crossed_gate(const GateProgress *racer, const float wheel[3])
{
    static const int offsets[5] = {-3, -2, 0, 1, 2};
    bool missing_seen = false;
    for (int offset : offsets) {
        int g = racer->gates_passed + offset;
        if (g < 0)
            continue;
        bool untimed = gate_time(racer, g) == -1;
        if (untimed)
            missing_seen = true;
        const TimingGate &c = gates.tables.checkpoints[race_gate_checkpoint(g)];
        float dx = wheel[0] - c.x, dz = wheel[2] - c.z;
        if (dx * dx + dz * dz <= c.radius * c.radius && dx * c.dx + dz * c.dz >= 0) {
            if (offset >= 0 || missing_seen)
                return g;
            continue;
        }
        if (untimed && is_lap_end(g))
            return -1;
    }
    return -1;
}

void check_gates(GateProgress *racer, const float front_wheel[3], int32_t frame,
                 int32_t total_laps)
{
    const TimingTables &t = gates.tables;
    if (t.checkpoint_count == 0 || racer->finished)
        return;
    gates.hooks.line_sample(racer, frame);
    int g = crossed_gate(racer, front_wheel);
    if (g < 0)
        return;

    racer->gates_passed = g;
    while (racer->times.size() <= (size_t)g)
        racer->times.push(-1);
    racer->times[g] = frame;
    gates.hooks.line_crossing(racer, g, frame);
    int p = g + 1;
    racer->gates_passed = p;

    int into = p - t.first_lap_count;
    if (into >= 0 && into % t.normal_lap_count == 0 && !racer->finished) {
        int64_t finish_gate = total_laps > 0 ? lap_end_gate(total_laps) : 0;
        int64_t laps = into / t.normal_lap_count + 1;
        if (gates.hooks.leader_gates_passed() > finish_gate || laps >= total_laps) {
            racer->finished = true;
            gates.hooks.line_finished(racer);
        }
    }
    gates.hooks.update_running_order();
    gates.hooks.line_reset(racer);
}

// ---------------------------------------------------------------------------
// Track info

static void append_format(std::string *text, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

static void append_format(std::string *text, const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *text += line;
}

bool format_track_info(std::string *text)
{
    const char *directory = track_directory();
    if (!directory)
        return false;
    const TimingTables &t = gates.tables;
    text->clear();
    append_format(text, "dir=%.900s\n", directory);
    append_format(text, "longname=%.900s\n", track_long_name());
    append_format(text, "firstlap=%d\n", t.first_lap_count);
    append_format(text, "normallap=%d\n", t.normal_lap_count);
    append_format(text, "gatecount=%d\n", t.starting_gate_count);
    const uint8_t *hash = track_hash();
    *text += "hash=";
    for (int i = 0; i < 20; i++)
        append_format(text, "%02x", hash ? hash[i] : 0);
    *text += "\n";
    return true;
}

static bool write_text(DataFile *out, void *text)
{
    return data_puts(out, ((std::string *)text)->c_str()) && data_flush(out);
}

bool save_track_info()
{
    std::string text;
    if (!format_track_info(&text))
        return false;
    std::string directory = track_directory();
    if (!replace_home_file(directory + ".trackinfo", write_text, &text)) {
        char message[1024];
        snprintf(message, sizeof message, "Can't open '%.900s.trackinfo'\n", directory.c_str());
        game_message(message);
        return false;
    }
    game_message(("Track info saved to " + directory + ".trackinfo").c_str());
    return true;
}
