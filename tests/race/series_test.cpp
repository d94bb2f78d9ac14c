// Points series: reading ".series" files and their standings, the grid of the next
// event, recording finishing positions, rounds and their points, and files that
// must be dropped without harm.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/discovery.h"
#include "race/race.h"
#include "race/series.h"
#include "sim/racer.h"
#include "tests/support/temp_home.h"

namespace {

std::string points(std::initializer_list<int> first)
{
    std::string text;
    int n = 0;
    for (int p : first) {
        text += std::to_string(p) + " ";
        n++;
    }
    for (; n < SERIES_POINTS; n++)
        text += "0 ";
    return text + "\n";
}

std::string event(const char *name, const char *track, const char *length, const std::string &b)
{
    return std::string(name) + " " + track + "\n" + length + "\n" + points({25, 20, 16}) + b;
}

// Two opponents (#12, #34) and the player. Moto 1 only scores moto points; moto 2
// closes round 1; the final is round 2 on its own.
std::string cup_series()
{
    return "\"Test Cup\"\n2 Expert\n12 34\n3\n" + event("\"Moto 1\"", "alpha", "0 3", points({})) +
           event("\"Moto 2\"", "alpha", "0 3", points({50, 40, 30})) +
           event("Final", "\"beta\"", "5 2", points({100, 80, 60}));
}

int captured_lineup[RACER_SLOTS];
int captured_track, captured_minutes, captured_laps, captured_skill, starts;

void capture_start(int track, const int *lineup, int minutes, int laps, int skill)
{
    for (int i = 0; i < RACER_SLOTS; i++)
        captured_lineup[i] = lineup[i];
    captured_track = track;
    captured_minutes = minutes;
    captured_laps = laps;
    captured_skill = skill;
    starts++;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return in ? s.str() : "<missing>";
}

class SeriesTest : public TempHomeTest {
protected:
    std::vector<std::unique_ptr<Racer>> bikes;

    void SetUp() override
    {
        TempHomeTest::SetUp();
        std::filesystem::create_directories(home);
        for (const char *track : {"alpha", "beta"}) {
            ASSERT_TRUE(write_bytes(data + track + "/terrain.hf", "x"));
            ASSERT_TRUE(write_bytes(data + track + "/desc", std::string(track) + " long\n"));
        }
        ASSERT_TRUE(discover_tracks_and_demos());
        ASSERT_EQ(track_list().size(), 2u);
        SeriesHooks hooks = {capture_start};
        series_set_hooks(&hooks);
        starts = 0;
        race_state() = RaceState{};
        race_clear_slots();
    }

    void TearDown() override
    {
        free_series();
        series_set_hooks(nullptr);
        race_state() = RaceState{};
        TempHomeTest::TearDown();
    }

    void add(int slot, const char *plate, ControlKind kind = AutoPilot, bool finished = true)
    {
        bikes.emplace_back(new Racer());
        Racer *r = bikes.back().get();
        snprintf(r->plate, sizeof r->plate, "%s", plate);
        r->finished = finished;
        race_state().racers[slot] = r;
        race_state().kind[slot] = kind;
    }

    // Final results in the order of the slots given.
    void finish_in_order(std::initializer_list<int> slots)
    {
        RaceState &race = race_state();
        race.results_final = true;
        race.results_count = 0;
        for (int slot : slots)
            race.results[race.results_count++] = {slot, 3, 0};
    }
};

TEST_F(SeriesTest, MotosAddUpToTheRoundAndStandingsSurviveAReload)
{
    ASSERT_TRUE(write_bytes(data + "cup.series", cup_series()));
    data_reset();               // the name list was built before the file existed
    load_series();
    ASSERT_EQ(series_count(), 1);
    Series *s = series_at(0);
    EXPECT_EQ(s->title, "Test Cup");
    EXPECT_EQ(s->skill, 2);
    EXPECT_EQ(s->standings, "@cup.series_standings");
    ASSERT_EQ(s->events.size(), 3u);
    EXPECT_EQ(s->events[2].track, 1);
    EXPECT_EQ(standings_heading(s), "Next Event: Moto 1");

    add(0, "12");
    add(1, "34");
    add(2, "99", LocalRider);

    // First event: opponents on slots 0.. by number, the player after them.
    enter_next_event(0, false);
    ASSERT_EQ(starts, 1);
    EXPECT_EQ(captured_lineup[0], 1012);
    EXPECT_EQ(captured_lineup[1], 1034);
    EXPECT_EQ(captured_lineup[2], 1);
    EXPECT_EQ(captured_lineup[3], 0);
    EXPECT_EQ(captured_laps, 3);
    EXPECT_EQ(captured_skill, 2);
    finish_in_order({2, 0, 1});     // player 25, #12 20, #34 16
    record_event_result();
    EXPECT_EQ(s->completed, 1);
    EXPECT_EQ(read_file(home + "cup.series_standings"), "2 3 1 \n");

    // Second event: the grid is filled from the last of moto 1 up to its winner.
    enter_next_event(0, false);
    EXPECT_EQ(captured_lineup[6], 1034);
    EXPECT_EQ(captured_lineup[8], 1012);
    EXPECT_EQ(captured_lineup[10], 1);
    EXPECT_EQ(captured_lineup[0], 0);
    finish_in_order({1, 0, 2});     // #34 25, #12 20, player 16
    record_event_result();
    ASSERT_EQ(s->completed, 2);

    // #34 and the player both have 41: the better place in moto 2 wins the round.
    EXPECT_EQ(series_total(s, 1), 50);
    EXPECT_EQ(series_total(s, 2), 40);
    EXPECT_EQ(series_total(s, 0), 30);
    EXPECT_EQ(series_round_count(s), 2);
    EXPECT_EQ(standings_round_label(0), "Rd 1");
    EXPECT_EQ(standings_cell(s, 0, 2), "40 (1-3)");
    EXPECT_EQ(standings_cell(s, 0, 1), "50 (3-1)");
    EXPECT_EQ(standings_cell(s, 1, 1), "");
    EXPECT_EQ(standings_heading(s), "Next Event: Final");

    load_series();
    s = series_at(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->completed, 2);
    EXPECT_EQ(series_total(s, 1), 50);
    EXPECT_EQ(series_total(s, 2), 40);
    EXPECT_EQ(standings_cell(s, 0, 0), "30 (2-2)");

    reset_points(0);
    EXPECT_EQ(s->completed, 0);
    EXPECT_EQ(read_file(home + "cup.series_standings"), "");
    EXPECT_EQ(series_total(s, 1), 0);
}

TEST_F(SeriesTest, RaceLeftEarlyPlacesOpponentsByTheRunningOrder)
{
    ASSERT_TRUE(write_bytes(data + "cup.series", cup_series()));
    data_reset();               // the name list was built before the file existed
    load_series();
    ASSERT_EQ(series_count(), 1);

    // Practice is raced but never recorded.
    enter_next_event(0, true);
    EXPECT_EQ(starts, 1);
    int series_index, event_index;
    current_event(&series_index, &event_index);
    EXPECT_EQ(series_index, -1);
    record_event_result();
    EXPECT_EQ(series_at(0)->completed, 0);

    // A left race: the running order counts, the unfinished player is last, and of
    // two bikes carrying #34 only the first places it.
    enter_next_event(0, false);
    add(3, "34");
    add(0, "12");
    add(2, "99", LocalRider, false);
    add(1, "34");
    RaceState &race = race_state();
    const int order[] = {3, 2, 0, 1};
    for (int i = 0; i < 4; i++)
        race.order[i] = {order[i], 3 - i, 0};
    race.order_count = 4;
    record_event_result();
    ASSERT_EQ(series_at(0)->completed, 1);
    EXPECT_EQ(read_file(home + "cup.series_standings"), "2 1 3 \n");
    current_event(&series_index, &event_index);
    EXPECT_EQ(event_index, -1);

    // Standings that cannot be written: the event stays open, on disk and here.
    ASSERT_TRUE(write_bytes(home + "cup.series_standings.part/x", "x"));
    enter_next_event(0, false);
    record_event_result();
    EXPECT_EQ(series_at(0)->completed, 1);
    EXPECT_EQ(read_file(home + "cup.series_standings"), "2 1 3 \n");
}

TEST_F(SeriesTest, BrokenFilesAreDroppedWithoutHarm)
{
    std::string numbers_159;
    for (int i = 0; i < 159; i++)
        numbers_159 += std::to_string(i) + " ";
    const std::string good = cup_series();
    struct Case {
        const char *name;
        std::string text;
        bool kept;
    } cases[] = {
        {"complete", good, true},
        {"largest field", "T 159 novice\n" + numbers_159 + "\n0\n", true},
        {"empty", "", false},
        {"truncated", good.substr(0, good.size() - 40), false},
        {"too many entrants", "T 160 novice\n" + numbers_159 + "1\n0\n", false},
        {"negative count", "T -1 novice\n0\n", false},
        {"negative number", "T 2 novice\n5 -999\n0\n", false},
        {"unlisted track", "T 0 novice\n1\nE gamma 0 1\n" + points({1}) + points({1}), false},
        {"unclosed title", "\"Title 0 novice\n0\n", false},
        {"no events count", "T 0 novice\n", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(write_bytes(data + "x.series", c.text));
        Series s;
        EXPECT_EQ(read_series_file("x.series", &s), c.kept);
    }

    // Standings: only complete lines of valid positions count.
    ASSERT_TRUE(write_bytes(data + "x.series", good));
    const struct {
        const char *text;
        int completed;
    } standings[] = {{"1 2 3\n3 2", 1}, {"1 2 4\n", 0}, {"x", 0},
                     {"1 2 3\n3 2 1\n2 1 3\n1 3 2\n", 3}};
    for (const auto &st : standings) {
        SCOPED_TRACE(st.text);
        ASSERT_TRUE(write_bytes(home + "x.series_standings", st.text));
        Series s;
        ASSERT_TRUE(read_series_file("x.series", &s));
        EXPECT_EQ(s.completed, st.completed);
    }

    // The loader keeps only the complete files.
    ASSERT_TRUE(write_bytes(data + "bad.series", "T 0 novice\n1\nE gamma 0 1\n"));
    ASSERT_TRUE(write_bytes(data + "cup.series", good));
    data_reset();
    load_series();
    EXPECT_EQ(series_count(), 2);       // cup and x
}

} // namespace
