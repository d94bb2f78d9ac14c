// The computer riders' roster: 80 riders numbered 20 to 99, each with a driving
// personality, a bike and the textures that tell them apart on the track.
#pragma once

enum { ROSTER_SIZE = 80 };

struct RosterEntry {
    char number[4];             // "20" .. "99"
    const char *personality;    // "brask", "dorran", "tolvo"
    const char *bike;           // catalogue name
    const char *rider_texture;  // "" = the bike's default
    const char *head_texture;
    const char *bike_texture;
    const char *wheel_texture;
};

const RosterEntry &roster_entry(int i);     // 0 <= i < ROSTER_SIZE

// The catalogue name the older 250 names stand for ("crf250" -> "crf250(2008)").
const char *current_bike_name(const char *bike);
