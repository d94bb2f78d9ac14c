// The roster is built once from a few rules rather than typed out: four groups of
// twenty numbers, each riding a set of four bikes five apiece, with the textures
// cycling through their alternatives so neighbours on the grid look different.
#include "race/roster.h"

#include <cstdio>
#include <cstring>

static RosterEntry roster[ROSTER_SIZE];
static bool built;

static const char *const rider_bodies[3] = {"@rider_body-alt1.png", "@rider_body-alt2.png",
                                            "@rider_body-alt3.png"};
static const char *const rider_heads[3] = {"@rider_head-alt1.png", "@rider_head-alt2.png",
                                           "@rider_head-alt3.png"};
static const char *const wheels[2] = {"@wheels-alt1.png", "@wheels-alt2.png"};

// "@<bike>-alt<n>.png", kept for the life of the program.
static const char *bike_texture_name(const char *bike, int n)
{
    static char names[ROSTER_SIZE][48];
    static int used;
    char *out = names[used++ % ROSTER_SIZE];
    snprintf(out, 48, "@%s-alt%d.png", bike, n);
    return out;
}

static void build_roster()
{
    static const char *const small[4] = {"kx125", "yz125", "cr125", "rm125"};
    static const char *const fours[4] = {"crf250", "kx250f", "rmz250", "yz250f"};
    static const char *const fours_tolvo[4] = {"crf250", "kx250f", "yz250f", "rmz250"};
    for (int i = 0; i < ROSTER_SIZE; i++) {
        RosterEntry &e = roster[i];
        int number = 20 + i, group = i / 20, k = i % 20;
        snprintf(e.number, sizeof e.number, "%d", number);
        e.rider_texture = rider_bodies[k % 3];
        e.head_texture = (k % 4 == 3) ? "" : rider_heads[(k / 2) % 3];
        e.bike_texture = "";
        e.wheel_texture = "";
        switch (group) {
        case 0:
            e.personality = "dorran";
            e.bike = small[k / 5];
            break;
        case 1:
        case 2:
            e.personality = group == 1 ? "brask" : "dorran";
            e.bike = k == 19 ? "yz250f_se(2006)" : fours[k / 5];
            break;
        default:
            e.personality = "tolvo";
            e.bike = fours_tolvo[k / 5];
            e.bike_texture = bike_texture_name(e.bike, 1 + k % 2);
            e.wheel_texture = wheels[k % 2];
            break;
        }
    }
    built = true;
}

const RosterEntry &roster_entry(int i)
{
    if (!built)
        build_roster();
    if (i < 0)
        i = 0;
    if (i >= ROSTER_SIZE)
        i = ROSTER_SIZE - 1;
    return roster[i];
}

const char *current_bike_name(const char *bike)
{
    static const char *const map[4][2] = {{"crf250", "crf250(2008)"},
                                          {"kx250f", "kx250f(2008)"},
                                          {"rmz250", "rmz250(2008)"},
                                          {"yz250f", "yz250f(2008)"}};
    for (const auto &m : map)
        if (strcmp(bike, m[0]) == 0)
            return m[1];
    return bike;
}
