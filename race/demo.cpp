// Demo files: writing the recorded riders' states of a race as linked blocks,
// reading them back into the replay history a little ahead of the race clock,
// seeking backwards along the links, the default demo's backups and the "namedemo"
// rename, and which racers the scene draws as ghosts.
//
// Demo file, version 6. A text header, then a stream of blocks:
//   "QK06 %d %d %d %d\n"   riders, race duration (frames), configured laps, start frame
//   "%s\n"                 the track directory
//   per rider, in slot order:
//   "%s|%s|%s|%s|%s\n%s\n%s\n\n"  bike model, rider, bike, wheel and head textures
//                          (empty when missing), race number, rider name
//   blocks:
//     4  link: payload size of the previous block XOR that of this one (the
//        previous size is 0 for the first block), little-endian
//     4  frame number the block was written at, little-endian
//     1  type: 1 = states, 2 = text message, others are skipped
//     n  payload. Type 1: a run of 44-byte entries (1 byte rider index into the
//        header's list, 4 bytes frame, 39-byte state); a size that is not a multiple
//        of 44 skips the block. Type 2: the message text without terminator.
// Knowing a block's size s and link L, the previous block is L ^ s bytes long and
// starts (L ^ s) + 9 bytes before it, so the stream can be walked backwards.
//
// Versions 5 and 4 ("QK05", "QK04") have the same header without the name and
// blank lines, then one record per frame from frame 0: for every rider in order a
// 39-byte (version 5) or 26-byte (version 4) state.
//
// The header line is read as "QK%d %d %d %d %d": at least version, riders and
// duration; the start frame defaults to 14 s. A bad header, a rider count outside
// 0..160 or a missing header line means the demo is not played. Blocks larger than
// 1 MiB, or cut short by the end of the file, end the stream.
#include "race/demo.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/datafile.h"
#include "core/settings.h"
#include "platform/vrak.h"
#include "race/race.h"
#include "race/replay.h"
#include "sim/catalogue.h"
#include "sim/racer.h"
#include "track/gates.h"
#include "track/track.h"

enum {
    BLOCK_STATES = 1,
    BLOCK_TEXT = 2,
    READ_AHEAD_FRAMES = 64,         // version 6
    READ_AHEAD_BLOCKS = 128,        // per call
    OLD_READ_AHEAD_FRAMES = 8,      // versions 4 and 5
    HEADER_LINE_MAX = 4096,         // longer header lines mean the file is no demo
    MESSAGE_MAX = 1000,
};

constexpr int FRAMES_PER_SECOND = 128;
constexpr int DEFAULT_START_FRAME = 14 * FRAMES_PER_SECOND;
constexpr int GHOST_WINDOW = FRAMES_PER_SECOND;     // 1 s around the history's bracket

// The network off-course rule's defaults (the server may change them; the race
// keeps its own copy for collisions).

struct BlockHeader {
    uint32_t link;
    int32_t frame;
    uint8_t type;
};

struct DemoModule {
    DemoHooks hooks = {};

    // Playback.
    DataFile *in = nullptr;
    DemoInfo info = {};             // version 0 when no demo is open
    bool time_trial = false;        // the ghost: frames are shifted to the race clock
    long pos = 0;                   // where the file stands
    long stream_start = 0;
    long next_offset = 0;           // version 6: the next block to read
    uint32_t prev_size = 0;         // payload size of the block before next_offset
    bool pending = false;           // the next block's header was read but not used
    BlockHeader pending_header = {};
    long last_offset = -1;          // the last block read, -1 none
    uint32_t last_size = 0;
    int32_t first_frame = -1;       // -1 until the first block is read
    int32_t frame_offset = 0;
    int32_t next_frame = -1;        // versions 4/5: next frame to read, -1 = not started
    bool ended = false;
    std::string command_line_name;

    // Recording.
    DataFile *out = nullptr;
    bool out_is_default = false;
    uint32_t last_written = 0;      // payload size of the last block written
    std::string chosen_name;
    int backups = -1;               // -1: the setting
    int recorded_count = 0;
    int recorded_slots[RACER_SLOTS] = {};
};

static DemoModule demo;

void demo_set_hooks(const DemoHooks *hooks)
{
    demo.hooks = hooks ? *hooks : DemoHooks{};
}

static void show_message(const char *text)
{
    if (demo.hooks.show_message)
        demo.hooks.show_message(text);
    else
        game_message(text);
}

static uint32_t get32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void put32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out.push_back((uint8_t)(v >> (8 * i)));
}

static void copy_field(char *dst, size_t size, const char *src, size_t n)
{
    if (n >= size)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = 0;
}

// ---------------------------------------------------------------------------
// Opening a demo

// One header line without its end, truncated to fit; false at the end of the file
// or when the line is absurdly long.
static bool read_line(char *buffer, size_t size)
{
    size_t n = 0, total = 0;
    for (;;) {
        int c = data_getc(demo.in);
        if (c == DATA_EOF) {
            if (total == 0)
                return false;
            break;
        }
        demo.pos++;
        if (c == '\n')
            break;
        if (++total > HEADER_LINE_MAX)
            return false;
        if (n + 1 < size)
            buffer[n++] = (char)c;
    }
    if (n > 0 && buffer[n - 1] == '\r')
        n--;
    buffer[n] = 0;
    return true;
}

static bool read_rider(DemoRider *r, int version)
{
    char line[HEADER_LINE_MAX + 1];
    if (!read_line(line, sizeof line))
        return false;
    char *fields[5] = {r->bike, r->rider_texture, r->bike_texture, r->wheel_texture,
                       r->head_texture};
    const char *p = line;
    for (int i = 0; i < 5; i++) {
        const char *bar = strchr(p, '|');
        size_t n = bar ? (size_t)(bar - p) : strlen(p);
        copy_field(fields[i], 64, p, n);
        if (!bar) {
            for (int j = i + 1; j < 5; j++)
                fields[j][0] = 0;
            break;
        }
        p = bar + 1;
    }
    if (!read_line(line, sizeof line))
        return false;
    copy_field(r->number, sizeof r->number, line, strlen(line));
    if (version == 6) {
        if (!read_line(line, sizeof line))
            return false;
        copy_field(r->name, sizeof r->name, line, strlen(line));
        if (!read_line(line, sizeof line))
            return false;
    }
    r->slot = -1;
    return true;
}

static bool parse_header()
{
    char line[HEADER_LINE_MAX + 1];
    if (!read_line(line, sizeof line))
        return false;
    int version = 0, riders = 0, duration = 0, laps = 0, start = DEFAULT_START_FRAME;
    int n = sscanf(line, "QK%d %d %d %d %d", &version, &riders, &duration, &laps, &start);
    if (n < 3 || version < 4 || version > 6 || riders < 0 || riders > DEMO_MAX_RIDERS)
        return false;
    if (n < 5)
        start = DEFAULT_START_FRAME;
    if (n < 4)
        laps = 0;
    DemoInfo &d = demo.info;
    d.rider_count = riders;
    d.duration = duration;
    d.laps = laps;
    d.start_frame = start;
    if (!read_line(line, sizeof line) || !line[0])
        return false;
    copy_field(d.track, sizeof d.track, line, strlen(line));
    for (int i = 0; i < riders; i++) {
        if (!read_rider(&d.riders[i], version))
            return false;
    }
    d.version = version;
    return true;
}

static void reset_play_position()
{
    demo.next_offset = demo.stream_start;
    demo.prev_size = 0;
    demo.pending = false;
    demo.last_offset = -1;
    demo.last_size = 0;
    demo.next_frame = -1;
    demo.ended = false;
}

void close_demo_file()
{
    if (demo.in)
        data_close(demo.in);
    demo.in = nullptr;
    memset(&demo.info, 0, sizeof demo.info);
    set_history_version(5);
}

bool open_demo(const char *name, bool time_trial, const char *track)
{
    close_demo_file();
    std::string file;
    if (name && name[0]) {
        file = name;
    } else if (time_trial) {
        if (!track)
            track = track_directory();
        if (!track)
            return false;
        file = std::string("@") + track + "/fastlap.qkdemo";
    } else if (!demo.command_line_name.empty()) {
        file = demo.command_line_name;
    } else {
        file = "@demos/default.qkdemo";
    }
    demo.in = data_open(file.c_str(), "rb");
    if (!demo.in) {
        vrak_log("Can't open demo \"%.900s\"\n", file.c_str());
        return false;
    }
    demo.pos = 0;
    if (!parse_header()) {
        vrak_log("Bad demo header in \"%.900s\"\n", file.c_str());
        close_demo_file();
        return false;
    }
    demo.time_trial = time_trial;
    demo.stream_start = demo.pos;
    demo.first_frame = -1;
    demo.frame_offset = 0;
    reset_play_position();
    set_history_version(demo.info.version);
    return true;
}

bool open_demo_file(const char *name, const char **track)
{
    *track = nullptr;
    demo.command_line_name = name ? name : "";
    if (!open_demo(name, false, nullptr))
        return false;
    *track = intern_string(demo.info.track);
    return true;
}

const DemoInfo *demo_info()
{
    return demo.info.version ? &demo.info : nullptr;
}

DemoInfo *demo_info_edit()
{
    return demo.info.version ? &demo.info : nullptr;
}

bool demo_playing()
{
    return demo.info.version != 0;
}

// ---------------------------------------------------------------------------
// Reading ahead

static bool read_at(long offset, void *buffer, size_t n)
{
    if (demo.pos != offset) {
        if (!data_seek(demo.in, offset))
            return false;
        demo.pos = offset;
    }
    size_t got = data_read(demo.in, buffer, n);
    demo.pos += (long)got;
    return got == n;
}

static bool read_block_header(long offset, BlockHeader *h)
{
    uint8_t b[DEMO_BLOCK_HEADER];
    if (!read_at(offset, b, sizeof b))
        return false;
    h->link = get32(b);
    h->frame = (int32_t)get32(b + 4);
    h->type = b[8];
    return true;
}

static void store_entries(const uint8_t *p, size_t count)
{
    for (size_t i = 0; i < count; i++, p += DEMO_ENTRY_SIZE) {
        int rider = p[0];
        if (rider >= demo.info.rider_count)
            continue;
        int slot = demo.info.riders[rider].slot;
        if (slot < 0 || slot >= RACER_SLOTS)
            continue;
        ReplayState s;
        memcpy(s.bytes, p + 5, REPLAY_STATE_SIZE);
        int64_t frame = (int64_t)(int32_t)get32(p + 1) + demo.frame_offset;
        if (frame >= 0 && frame <= INT32_MAX)
            add_state_to_history(slot, s, (int32_t)frame);
    }
}

static void show_text_block(const std::vector<uint8_t> &payload, size_t n)
{
    char text[MESSAGE_MAX + 1];
    size_t k = 0;
    for (size_t i = 0; i < n && k < MESSAGE_MAX; i++)
        text[k++] = payload[i] >= ' ' || payload[i] == '\t' ? (char)payload[i] : ' ';
    text[k] = 0;
    show_message(text);
}

static void read_ahead_blocks()
{
    RaceState &race = race_state();
    std::vector<uint8_t> payload;
    for (int count = 0; count < READ_AHEAD_BLOCKS && !demo.ended; count++) {
        BlockHeader h;
        if (demo.pending) {
            h = demo.pending_header;
        } else if (!read_block_header(demo.next_offset, &h)) {
            demo.ended = true;
            break;
        }
        demo.pending = false;
        uint32_t size = h.link ^ demo.prev_size;
        if (size > DEMO_MAX_BLOCK) {
            vrak_log("Demo block of %u bytes: end of demo\n", size);
            demo.ended = true;
            break;
        }
        if (demo.first_frame < 0) {
            demo.first_frame = h.frame;
            if (demo.time_trial)
                demo.frame_offset = race.frame - h.frame;
            else
                race.frame = h.frame;
        }
        if ((int64_t)h.frame + demo.frame_offset > (int64_t)race.frame + READ_AHEAD_FRAMES) {
            demo.pending = true;
            demo.pending_header = h;
            break;
        }

        payload.resize(size);
        size_t got = size ? data_read(demo.in, payload.data(), size) : 0;
        demo.pos += (long)got;
        if (h.type == BLOCK_STATES && size % DEMO_ENTRY_SIZE == 0)
            store_entries(payload.data(), got / DEMO_ENTRY_SIZE);
        else if (h.type == BLOCK_TEXT && got == size)
            show_text_block(payload, got);
        if (got < size) {
            // Cut short by the end of the file: what was whole is kept.
            demo.ended = true;
            break;
        }
        demo.last_offset = demo.next_offset;
        demo.last_size = size;
        demo.prev_size = size;
        demo.next_offset += DEMO_BLOCK_HEADER + (long)size;
    }
}

static void read_ahead_frames()
{
    RaceState &race = race_state();
    int size = demo.info.version == 4 ? REPLAY_STATE_V4_SIZE : REPLAY_STATE_SIZE;
    int riders = demo.info.rider_count;
    if (demo.next_frame < race.frame)
        demo.next_frame = race.frame < 0 ? 0 : race.frame;
    for (; demo.next_frame <= race.frame + OLD_READ_AHEAD_FRAMES; demo.next_frame++) {
        if (riders == 0)
            continue;
        int64_t offset = demo.stream_start + (int64_t)demo.next_frame * riders * size;
        if (offset > 0x7fffffffLL)
            continue;
        for (int i = 0; i < riders; i++) {
            ReplayState s = {};
            if (!read_at((long)offset + (long)i * size, s.bytes, (size_t)size))
                break;
            int slot = demo.info.riders[i].slot;
            if (slot >= 0 && slot < RACER_SLOTS)
                add_state_to_history(slot, s, demo.next_frame);
        }
    }
}

void read_ahead()
{
    if (!demo.in || !demo.info.version)
        return;
    if (demo.info.version == 6)
        read_ahead_blocks();
    else
        read_ahead_frames();
}

// ---------------------------------------------------------------------------
// Seeking

// Walks back from the last block read, along the links, to the newest block whose
// (shifted) frame is at or before frame, or to the first block, and reads on from
// there. The frame of that block, or -1 when nothing has been read yet.
static int32_t position_before(int32_t frame)
{
    long offset = demo.last_offset;
    uint32_t size = demo.last_size;
    BlockHeader h = {};
    bool found = false;
    while (offset >= demo.stream_start) {
        if (!read_block_header(offset, &h))
            break;
        uint32_t previous = h.link ^ size;
        if ((int64_t)h.frame + demo.frame_offset <= frame || offset == demo.stream_start) {
            demo.next_offset = offset;
            demo.prev_size = offset == demo.stream_start ? 0 : previous;
            found = true;
            break;
        }
        if (previous > DEMO_MAX_BLOCK || offset - (long)previous - DEMO_BLOCK_HEADER <
                                             demo.stream_start)
            break;
        offset -= (long)previous + DEMO_BLOCK_HEADER;
        size = previous;
    }
    if (!found) {
        // No block read yet, or a broken link: start again from the first block.
        if (demo.last_offset >= 0)
            vrak_log("Demo links broken: rewinding to the start\n");
        demo.next_offset = demo.stream_start;
        demo.prev_size = 0;
        if (!read_block_header(demo.stream_start, &h))
            h.frame = -1;
    }
    demo.pending = false;
    demo.ended = false;
    demo.last_offset = demo.next_offset;
    demo.last_size = h.link ^ demo.prev_size;
    return h.frame < 0 ? -1 : h.frame;
}

void seek_demo(double seconds)
{
    if (!demo_playing() || demo.out)
        return;
    RaceState &race = race_state();
    for (int s = 0; s < RACER_SLOTS; s++) {
        if (race.racers[s] && race.kind[s] != Replayed)
            return;
    }
    int32_t delta = (int32_t)(seconds * FRAMES_PER_SECOND);
    if (demo.info.version == 6 && delta > 0) {
        if (!demo.hooks.game_step)
            return;
        int32_t target = race.frame + delta;
        if (demo.hooks.set_roost)
            demo.hooks.set_roost(false);
        while (race.frame < target) {
            int32_t before = race.frame;
            demo.hooks.game_step();
            if (race.frame <= before)
                break;
        }
        if (demo.hooks.set_roost)
            demo.hooks.set_roost(true);
        return;
    }

    int32_t c = race.frame + delta - 1;
    if (c < 0)
        c = 0;
    if (demo.info.version == 6)
        position_before(c - READ_AHEAD_FRAMES);
    else
        demo.next_frame = c;
    if (c < race.frame && demo.hooks.rewind_gates)
        demo.hooks.rewind_gates(c);
    race.frame = c;
    clear_history();
    read_ahead();
    if (demo.hooks.game_step)
        demo.hooks.game_step();
}

int32_t demo_position_before(int32_t frame)
{
    if (!demo.in || demo.info.version != 6)
        return -1;
    return position_before(frame);
}

// ---------------------------------------------------------------------------
// Recording

void set_demo_backups(int count)
{
    demo.backups = count;
}

void name_demo(const char *name)
{
    // The name becomes a file beside the default demo, never a path elsewhere.
    if (!name || !name[0] || name[0] == '.' || strchr(name, '/') || strchr(name, '\\')) {
        vrak_log("Demo name \"%.200s\" refused\n", name ? name : "");
        return;
    }
    demo.chosen_name = name;
}

bool demo_recording()
{
    return demo.out != nullptr;
}

static bool is_recorded(int slot)
{
    const RaceState &race = race_state();
    if (!race.racers[slot])
        return false;
    ControlKind kind = race.kind[slot];
    if (!race.network)
        return kind == LocalRider || kind == AutoPilot;
    if (demo.hooks.network_warmup && demo.hooks.network_warmup())
        return kind == Replayed || kind == AutoPilot;
    return true;
}

// Header text must not break the line structure a reader relies on.
static std::string header_field(const char *text, size_t limit)
{
    std::string s = text ? text : "";
    if (s.size() > limit)
        s.resize(limit);
    for (char &c : s) {
        if (c == '\n' || c == '\r' || c == '|')
            c = ' ';
    }
    return s;
}

static const char *rider_name(int slot)
{
    if (demo.hooks.rider_name)
        return demo.hooks.rider_name(slot);
    return race_state().kind[slot] == AutoPilot ? "Roborider" : "";
}

static void rotate_backups()
{
    int k = demo.backups >= 0 ? demo.backups : settings().demo_backups;
    k = k < 0 ? 0 : k > DEMO_MAX_BACKUPS ? DEMO_MAX_BACKUPS : k;
    char from[64], to[64];
    for (int n = k - 2; n >= 0; n--) {
        snprintf(from, sizeof from, "@demos/default%02d.qkdemo", n);
        snprintf(to, sizeof to, "@demos/default%02d.qkdemo", n + 1);
        data_rename(from, to);
    }
    if (k > 0)
        data_rename("@demos/default.qkdemo", "@demos/default00.qkdemo");
}

bool start_recording(bool time_trial, const char *track)
{
    stop_recording();
    if (!track)
        track = track_directory();
    std::string name;
    if (time_trial) {
        if (!track)
            return false;
        name = std::string("@") + track + "/lastlap.qkdemo";
    } else {
        rotate_backups();
        name = "@demos/default.qkdemo";
    }
    demo.out = data_open(name.c_str(), "wb");
    if (!demo.out) {
        vrak_log("Can't record demo \"%.900s\"\n", name.c_str());
        return false;
    }
    demo.out_is_default = !time_trial;
    demo.last_written = 0;

    const RaceState &race = race_state();
    demo.recorded_count = 0;
    for (int s = 0; s < RACER_SLOTS; s++) {
        if (is_recorded(s))
            demo.recorded_slots[demo.recorded_count++] = s;
    }
    data_printf(demo.out, "QK06 %d %d %d %d\n", demo.recorded_count, race.duration,
                race.configured_laps, race.start_frame);
    data_printf(demo.out, "%s\n", header_field(track ? track : "", 255).c_str());
    for (int i = 0; i < demo.recorded_count; i++) {
        int s = demo.recorded_slots[i];
        const Racer *r = race.racers[s];
        data_printf(demo.out, "%s|%s|%s|%s|%s\n%s\n%s\n\n",
                    header_field(racer_model_name(r), 63).c_str(),
                    header_field(racer_rider_texture(r), 63).c_str(),
                    header_field(racer_bike_texture(r), 63).c_str(),
                    header_field(racer_wheel_texture(r), 63).c_str(),
                    header_field(racer_head_texture(r), 63).c_str(),
                    header_field(racer_plate_text(r), 3).c_str(),
                    header_field(rider_name(s), 63).c_str());
    }
    data_flush(demo.out);
    return true;
}

static void write_block(uint8_t type, const std::vector<uint8_t> &payload)
{
    std::vector<uint8_t> block;
    block.reserve(DEMO_BLOCK_HEADER + payload.size());
    uint32_t size = (uint32_t)payload.size();
    put32(block, demo.last_written ^ size);
    put32(block, (uint32_t)race_state().frame);
    block.push_back(type);
    block.insert(block.end(), payload.begin(), payload.end());
    if (data_write(demo.out, block.data(), block.size()) != block.size() ||
        !data_flush(demo.out)) {
        // A half-written block would break the links; what is on disk stays readable.
        vrak_log("Demo write failed: recording stopped\n");
        data_close(demo.out);
        demo.out = nullptr;
        return;
    }
    demo.last_written = size;
}

static void write_unsaved();

void record_frame(bool force)
{
    if (!demo.out)
        return;
    const RaceState &race = race_state();
    int32_t frame = race.frame;
    if (force || frame % 4 == 0) {
        // Replayed riders (network peers) already have their received states.
        for (int i = 0; i < demo.recorded_count; i++) {
            int s = demo.recorded_slots[i];
            if (race.racers[s] && (race.kind[s] == LocalRider || race.kind[s] == AutoPilot))
                add_state_to_history(s, encode_state(race.racers[s]), frame);
        }
    }
    if (!force && frame % 16 != 0)
        return;
    write_unsaved();
}

// One type-1 block with every recorded rider's states not yet in the file.
static void write_unsaved()
{
    std::vector<uint8_t> payload;
    for (int i = 0; i < demo.recorded_count; i++) {
        int s = demo.recorded_slots[i];
        int n = history_unsaved(s);
        for (int k = 0; k < n; k++) {
            int32_t f;
            ReplayState state;
            history_unsaved_entry(s, k, &f, &state);
            payload.push_back((uint8_t)i);
            put32(payload, (uint32_t)f);
            payload.insert(payload.end(), state.bytes, state.bytes + REPLAY_STATE_SIZE);
        }
        history_mark_saved(s);
    }
    if (!payload.empty())
        write_block(BLOCK_STATES, payload);
}

void record_message(const char *text)
{
    if (!demo.out || !text)
        return;
    size_t n = strlen(text);
    if (n > MESSAGE_MAX)
        n = MESSAGE_MAX;
    write_block(BLOCK_TEXT, std::vector<uint8_t>(text, text + n));
}

void stop_recording()
{
    if (!demo.out)
        return;
    // The states since the last block would otherwise be lost: the last moments
    // of the race.
    write_unsaved();
    if (!demo.out)
        return;
    data_close(demo.out);
    demo.out = nullptr;
    if (demo.out_is_default && !demo.chosen_name.empty()) {
        std::string target = "@demos/" + demo.chosen_name;
        if (!data_rename("@demos/default.qkdemo", target.c_str()))
            vrak_log("Can't rename the demo to \"%.900s\"\n", target.c_str());
        demo.chosen_name.clear();
    }
}

void stop_demo_files()
{
    stop_recording();
    close_demo_file();
}

void free_demo_data()
{
    close_demo_file();
    demo.command_line_name.clear();
    demo.chosen_name.clear();
}

// ---------------------------------------------------------------------------
// Ghosts

bool is_ghost(int slot)
{
    const RaceState &race = race_state();
    if (slot < 0 || slot >= RACER_SLOTS || !race.racers[slot])
        return true;
    ControlKind kind = race.kind[slot];
    if (race.network && kind == LocalRider && slot != race.local_slot && demo.hooks.network_warmup &&
        demo.hooks.network_warmup())
        return true;
    if (kind == LocalRider || kind == AutoPilot)
        return false;

    int32_t earlier, later;
    if (!history_bracket(slot, race.frame, &earlier, &later) ||
        race.frame < earlier - GHOST_WINDOW || race.frame > later + GHOST_WINDOW)
        return true;

    int local = race.local_slot;
    const Racer *me = local >= 0 && local < RACER_SLOTS ? race.racers[local] : nullptr;
    if (!me)
        return false;
    if (race.network && slot != local &&
        history_newest_frame(slot) <= race.frame - FRAMES_PER_SECOND)
        return true;
    double run = (double)(race.frame - race.start_frame) / FRAMES_PER_SECOND;
    if (run <= race.off_course_bias || race.order_count <= 1)
        return false;
    if (racer_out_of_race(me))
        return false;
    return racer_out_of_race(race.racers[slot]);
}
