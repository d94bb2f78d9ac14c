// Demo files: a race recorded with record_frame and played back (forwards block by
// block, backwards along the links, seeking), the default demo's backups and its
// rename, and damaged or foreign files that must be refused or skipped safely.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/datafile.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/replay.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/racer_pose.h"
#include "sim/world.h"
#include "tests/support/temp_home.h"

namespace
{

std::vector<std::string> messages;
int steps_taken;

void test_message(const char *text)
{
    messages.push_back(text);
}

// A game step as far as the demo sees it: the clock moves and the demo reads on.
void test_game_step()
{
    steps_taken++;
    race_state().frame++;
    read_ahead();
}

class DemoTest : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(create_physics_world());
        race_clear_slots();
        RaceState &race = race_state();
        race.frame = 0;
        race.network = false;
        race.time_trial = false;
        race.order_count = 0;
        race.duration = 0;
        race.configured_laps = 3;
        race.start_frame = 1800;
        clear_history();
        messages.clear();
        steps_taken = 0;
        DemoHooks hooks = {};
        hooks.game_step = test_game_step;
        hooks.show_message = test_message;
        demo_set_hooks(&hooks);
        set_demo_backups(0);
    }
    void TearDown() override
    {
        stop_demo_files();
        free_demo_data();
        demo_set_hooks(nullptr);
        for (Racer *r : made)
            destroy_racer(r);
        race_clear_slots();
        destroy_physics_world();
        TempHomeTest::TearDown();
    }
    Racer *place(int slot, ControlKind kind, const char *plate, double x)
    {
        Racer *r = create_racer("crf450(2013)", slot, plate, "riderskin", nullptr, nullptr,
                                nullptr);
        made.push_back(r);
        move_racer(r, x, 10, 100);
        race_state().racers[slot] = r;
        race_state().kind[slot] = kind;
        return r;
    }
    std::string demo_path(const char *name) { return home + "demos/" + name; }
    std::vector<Racer *> made;
};

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void put32(std::string &out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out.push_back((char)(v >> (8 * i)));
}

// Builds version-6 block streams the way a writer (or a broken writer) would.
struct Blocks {
    std::string bytes;
    uint32_t last = 0;
    void block(int32_t frame, uint8_t type, const std::string &payload, uint32_t size)
    {
        put32(bytes, last ^ size);
        put32(bytes, (uint32_t)frame);
        bytes.push_back((char)type);
        bytes += payload;
        last = size;
    }
    void block(int32_t frame, uint8_t type, const std::string &payload)
    {
        block(frame, type, payload, (uint32_t)payload.size());
    }
};

std::string entry(uint8_t rider, int32_t frame, uint8_t fill)
{
    std::string e(1, (char)rider);
    put32(e, (uint32_t)frame);
    e += std::string(REPLAY_STATE_SIZE, (char)fill);
    return e;
}

const char *const HEADER_ONE_RIDER = "QK06 1 0 3 1800\ntracks/test\nrm125||||\n12\nSam\n\n";

// Records two riders over 400 frames, then plays the file back into two other slots.
TEST_F(DemoTest, RecordedRaceReadsBackForwardsAndBackwards)
{
    Racer *local = place(0, LocalRider, "5", 100);
    Racer *robot = place(3, AutoPilot, "42", 200);
    place(1, Replayed, "9", 300);       // a replayed rider is not recorded
    ASSERT_TRUE(start_recording(false, "tracks/test"));
    const std::string header = "QK06 2 0 3 1800\ntracks/test\n"
                               "crf450(2013)|riderskin|||\n5\n\n\n"
                               "crf450(2013)|riderskin|||\n42\nRoborider\n\n";

    std::map<int32_t, std::string> expected[2];
    RaceState &race = race_state();
    for (int32_t f = 0; f <= 400; f++) {
        race.frame = f;
        move_racer(local, 0.5, 0, 0);
        move_racer(robot, 0, 0, -0.25);
        if (f == 100)
            record_message("Server says hi");
        if (f % 4 == 0 || f == 0) {
            ReplayState a = encode_state(local), b = encode_state(robot);
            expected[0][f] = std::string((const char *)a.bytes, REPLAY_STATE_SIZE);
            expected[1][f] = std::string((const char *)b.bytes, REPLAY_STATE_SIZE);
        }
        record_frame(f == 0);
    }
    stop_recording();
    EXPECT_FALSE(demo_recording());
    std::string file = read_file(demo_path("default.qkdemo"));
    ASSERT_EQ(file.compare(0, header.size(), header), 0) << file.substr(0, header.size());

    // Play it back into slots 7 and 8, every racer replayed.
    race_clear_slots();
    clear_history();
    race.frame = 0;
    ASSERT_TRUE(open_demo(nullptr, false, nullptr));
    const DemoInfo *info = demo_info();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->version, 6);
    EXPECT_EQ(info->rider_count, 2);
    EXPECT_EQ(info->laps, 3);
    EXPECT_EQ(info->start_frame, 1800);
    EXPECT_STREQ(info->track, "tracks/test");
    EXPECT_STREQ(info->riders[1].number, "42");
    EXPECT_STREQ(info->riders[1].name, "Roborider");
    EXPECT_STREQ(info->riders[0].rider_texture, "riderskin");
    EXPECT_EQ(history_version(), 6);
    demo_info_edit()->riders[0].slot = 7;
    demo_info_edit()->riders[1].slot = 8;

    // Forwards: never more than 64 frames (plus one block) ahead of the clock.
    read_ahead();
    for (; race.frame < 420; race.frame++) {
        read_ahead();
        EXPECT_LE(history_newest_frame(7), race.frame + 64);
    }
    EXPECT_EQ(history_newest_frame(7), 400);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Server says hi");
    for (int32_t f = 0; f <= 400; f += 4) {
        HistorySample s;
        ASSERT_TRUE(sample_pose(8, f, &s));
        ASSERT_EQ(std::string((const char *)s.pose.bytes, REPLAY_STATE_SIZE), expected[1][f])
            << "frame " << f;
    }

    // Backwards along the links, one block at a time: 25 state blocks at frames
    // 16..400, the forced one at 0 and the message block at 100.
    std::vector<int32_t> frames = {400};
    for (int32_t f = 384; f >= 0; f -= 16)
        frames.push_back(f);
    for (int32_t f : frames) {
        SCOPED_TRACE(f);
        EXPECT_EQ(demo_position_before(f), f);
    }

    // Seeking back 2 s from frame 420: the states around frame 163 are there again.
    race.frame = 420;
    read_ahead();
    for (int s = 0; s < RACER_SLOTS; s++)
        race.kind[s] = Replayed;
    seek_demo(-2);
    EXPECT_EQ(race.frame, 420 - 256 - 1 + 1);
    EXPECT_EQ(steps_taken, 1);
    int32_t e, l;
    ASSERT_TRUE(history_bracket(7, race.frame, &e, &l));
    EXPECT_LE(e, race.frame);
    EXPECT_GE(l, race.frame);
    HistorySample s;
    ASSERT_TRUE(sample_pose(7, 160, &s));
    EXPECT_EQ(std::string((const char *)s.pose.bytes, REPLAY_STATE_SIZE), expected[0][160]);

    // Forwards 1 s goes by game steps.
    steps_taken = 0;
    int32_t from = race.frame;
    seek_demo(1);
    EXPECT_EQ(race.frame, from + 128);
    EXPECT_EQ(steps_taken, 128);
}

TEST_F(DemoTest, BackupsKeepThePreviousDefaultDemos)
{
    struct {
        int backups;
        std::vector<std::string> before;        // default, default00, default01 ...
        std::vector<std::string> after_backups; // default00, default01 ... afterwards
    } cases[] = {
        {0, {"old"}, {}},
        {1, {"old"}, {"old"}},
        {1, {"old", "older"}, {"old"}},
        {3, {"a", "b", "c"}, {"a", "b", "c"}},
        {2, {"a", "b", "c"}, {"a", "b"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.backups);
        std::filesystem::remove_all(home + "demos");
        write_bytes(demo_path("default.qkdemo"), c.before[0]);
        for (size_t i = 1; i < c.before.size(); i++) {
            char name[32];
            snprintf(name, sizeof name, "default%02d.qkdemo", (int)i - 1);
            write_bytes(demo_path(name), c.before[i]);
        }
        set_demo_backups(c.backups);
        ASSERT_TRUE(start_recording(false, "tracks/test"));
        stop_recording();
        EXPECT_EQ(read_file(demo_path("default.qkdemo")).substr(0, 4), "QK06");
        for (size_t i = 0; i < c.after_backups.size(); i++) {
            char name[32];
            snprintf(name, sizeof name, "default%02d.qkdemo", (int)i);
            EXPECT_EQ(read_file(demo_path(name)), c.after_backups[i]) << name;
        }
        if (c.backups == 0) {
            EXPECT_FALSE(file_exists(demo_path("default00.qkdemo")));
        }
    }

    // A chosen name takes the finished default demo's place.
    name_demo("race1.qkdemo");
    name_demo("../escape.qkdemo");      // refused: the earlier name stays
    ASSERT_TRUE(start_recording(false, "tracks/test"));
    stop_recording();
    EXPECT_TRUE(file_exists(demo_path("race1.qkdemo")));
    EXPECT_FALSE(file_exists(demo_path("default.qkdemo")));
    EXPECT_FALSE(file_exists(home + "escape.qkdemo"));
}

// Each case: the file, whether it opens, and the frames that reach slot 5 (rider 0)
// after reading everything.
TEST_F(DemoTest, DamagedDemosAreRefusedOrSkippedSafely)
{
    auto blocks = [](std::initializer_list<std::function<void(Blocks &)>> steps) {
        Blocks b;
        for (const auto &s : steps)
            s(b);
        return b.bytes;
    };
    struct Case {
        const char *what;
        std::string bytes;
        bool opens;
        std::vector<int32_t> frames;
    };
    const std::string h = HEADER_ONE_RIDER;
    std::string two_entries = entry(0, 10, 1) + entry(0, 14, 2);
    Case cases[] = {
        {"wrong word", "XK06 1 0 3 1800\ntracks/test\nrm125\n12\nSam\n\n", false, {}},
        {"unknown version", "QK07 1 0 3 1800\ntracks/test\nrm125\n12\nSam\n\n", false, {}},
        {"too many riders", "QK06 161 0 3 1800\ntracks/test\n", false, {}},
        {"negative riders", "QK06 -1 0 3 1800\ntracks/test\n", false, {}},
        {"two numbers", "QK06 1\ntracks/test\nrm125\n12\nSam\n\n", false, {}},
        {"rider lines missing", "QK06 2 0 3 1800\ntracks/test\nrm125\n12\nSam\n\n", false, {}},
        {"no track", "QK06 0 0 3 1800\n", false, {}},
        {"empty", "", false, {}},
        {"good", h + blocks({[&](Blocks &b) { b.block(10, 1, two_entries); }}), true, {10, 14}},
        {"size not a multiple of 44",
         h + blocks({[&](Blocks &b) { b.block(10, 1, two_entries + "x"); },
                     [&](Blocks &b) { b.block(20, 1, entry(0, 20, 3)); }}),
         true, {20}},
        {"unknown type skipped",
         h + blocks({[&](Blocks &b) { b.block(10, 7, "whatever"); },
                     [&](Blocks &b) { b.block(20, 1, entry(0, 20, 3)); }}),
         true, {20}},
        {"rider index beyond the count",
         h + blocks({[&](Blocks &b) { b.block(10, 1, entry(1, 10, 1) + entry(0, 12, 2)); }}),
         true, {12}},
        {"truncated block keeps its whole entries",
         h + blocks({[&](Blocks &b) { b.block(10, 1, entry(0, 10, 1)); },
                     [&](Blocks &b) {
                         b.block(20, 1, entry(0, 20, 1) + entry(0, 24, 1).substr(0, 20), 88);
                     }}),
         true, {10, 20}},
        {"absurd size ends the stream",
         h + blocks({[&](Blocks &b) { b.block(10, 1, entry(0, 10, 1)); },
                     [&](Blocks &b) { b.block(20, 1, entry(0, 20, 1), 0x7ffffff0); }}),
         true, {10}},
        {"cut inside a block header", h + blocks({[&](Blocks &b) {
                                              b.block(10, 1, entry(0, 10, 1));
                                          }}) + "\x01\x02",
         true, {10}},
        {"version 5, last record short",
         "QK05 1 0\ntracks/test\nrm125|a|b|c|d\n12\n" + std::string(39, 'a') +
             std::string(39, 'b') + std::string(20, 'c'),
         true, {0, 1}},
        {"version 4", "QK04 1 0 2 900\ntracks/test\nrm125\n12\n" + std::string(26 * 3, 'a'), true,
         {0, 1, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clear_history();
        race_state().frame = 0;
        write_bytes(demo_path("test.qkdemo"), c.bytes);
        bool opened = open_demo("@demos/test.qkdemo", false, nullptr);
        ASSERT_EQ(opened, c.opens);
        if (!opened) {
            EXPECT_EQ(demo_info(), nullptr);
            EXPECT_EQ(history_version(), 5);
            continue;
        }
        demo_info_edit()->riders[0].slot = 5;
        for (int f = 0; f < 200; f++) {
            race_state().frame = f;
            read_ahead();
        }
        std::vector<int32_t> got;
        for (int i = 0; i < history_unsaved(5); i++) {
            int32_t frame;
            ReplayState s;
            history_unsaved_entry(5, i, &frame, &s);
            got.push_back(frame);
        }
        EXPECT_EQ(got, c.frames);
        // Walking back over whatever was read never fails badly.
        demo_position_before(0);
        close_demo_file();
    }

    // Missing fields: three numbers give a 14 s start; trailing texture fields empty.
    write_bytes(demo_path("short.qkdemo"), "QK05 1 640\ntracks/test\nrm125|skin\n7\n");
    ASSERT_TRUE(open_demo("@demos/short.qkdemo", false, nullptr));
    EXPECT_EQ(demo_info()->start_frame, 14 * 128);
    EXPECT_EQ(demo_info()->duration, 640);
    EXPECT_STREQ(demo_info()->riders[0].bike, "rm125");
    EXPECT_STREQ(demo_info()->riders[0].rider_texture, "skin");
    EXPECT_STREQ(demo_info()->riders[0].head_texture, "");
    EXPECT_STREQ(demo_info()->riders[0].number, "7");
}

// The first block sets the race clock, or in a time trial shifts the demo's frames
// onto it.
TEST_F(DemoTest, FirstBlockSetsTheClockOrTheGhostsOffset)
{
    Blocks b;
    b.block(38400, 1, entry(0, 38400, 1) + entry(0, 38404, 2));
    write_bytes(demo_path("tt.qkdemo"), std::string(HEADER_ONE_RIDER) + b.bytes);

    race_state().frame = 0;
    ASSERT_TRUE(open_demo("@demos/tt.qkdemo", false, nullptr));
    demo_info_edit()->riders[0].slot = 1;
    read_ahead();
    EXPECT_EQ(race_state().frame, 38400);
    EXPECT_EQ(history_newest_frame(1), 38404);

    clear_history();
    race_state().frame = 500;
    ASSERT_TRUE(open_demo("@demos/tt.qkdemo", true, nullptr));
    demo_info_edit()->riders[0].slot = 1;
    read_ahead();
    EXPECT_EQ(race_state().frame, 500);
    EXPECT_EQ(history_newest_frame(1), 504);
}

} // namespace
