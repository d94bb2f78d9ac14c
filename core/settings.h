// The setting records: every user setting with its menu label, limits and default.
// Menus change them; every other part only reads them. The configuration file
// reads and writes them by their keys.
#pragma once

#include <string>
#include <vector>

struct VrakAxis;

struct NumberSetting {
    const char *label;
    double value;
    double step;
    double minimum;
    double maximum;
};

struct ChoiceSetting {
    const char *label;
    std::vector<std::string> choices;
    int selected;

    const char *text() const
    {
        return selected >= 0 && selected < (int)choices.size() ? choices[selected].c_str() : "";
    }
};

struct TextSetting {
    const char *label;
    size_t max_length;
    std::string text;
};

// A control: a key name, or an axis name with the part of its travel that maps
// onto 0..1. At most one of the two names is set.
struct KeyBinding {
    const char *label;
    const char *key_name;       // interned, or null
    int key_code;               // resolved at start-up; 0 = no key
    const char *axis_name;      // interned, or null
    VrakAxis *axis;             // open axis, or null
    float axis_low;
    float axis_high;
};

enum GraphicsPreset {
    PRESET_COMPATIBILITY,
    PRESET_HIGH_FPS,
    PRESET_NORMAL,
    PRESET_HIGH_DETAIL,
    PRESET_COUNT,
};

enum { SERVER_HISTORY = 16, GATE_SLOTS = 40 };

struct Settings {
    int xres, yres;
    int draw_fps, draw_time, draw_ping;
    int spy;
    const char *track;          // interned directory name
    ChoiceSetting record, skill;
    NumberSetting minutes, laps;
    ChoiceSetting slots[GATE_SLOTS];
    NumberSetting ghost_fade_distance;
    ChoiceSetting time_trial_abort;
    ChoiceSetting video_mode;
    TextSetting server_name;
    std::string server_name_hist[SERVER_HISTORY];
    NumberSetting ground_detail, ground_texture_detail;
    ChoiceSetting ground_texture_dim, ground_mipmaps, texture_compress, render_texture;
    ChoiceSetting use_shader;
    NumberSetting roost_density;
    ChoiceSetting lens_flare, reflections, hide_rider, rigid_camera;
    NumberSetting model_detail, model_texture_detail;
    NumberSetting fov, first_person_height, first_person_angle;
    NumberSetting third_person_height, third_person_distance;
    NumberSetting volume, comp_volume;
    ChoiceSetting playback_mode;
    int billboard_optimize_lookahead;
    int message_lines;
    int demo_backups;
    float map_scale;
    // The start track choice: one display name per track.
    ChoiceSetting track_choice;

    KeyBinding throttle_key, front_brake_key, rear_brake_key, left_key, right_key;
    KeyBinding clutch_key, upshift_key, downshift_key, dab_key, back_up_key;
    KeyBinding lean_forward_key, lean_backward_key;
    KeyBinding pause_key, step_key, rewind_key, skip_key, prev_key, next_key;
    KeyBinding console_key, screenshot_key;
};

const Settings &settings();
Settings &settings_edit();
// Puts every setting back to its default (the graphics settings to "Compatibility").
void settings_reset();
void apply_graphics_preset(GraphicsPreset preset);

// Every binding, controls first then function keys, for resolution and capture.
int settings_binding_count();
KeyBinding *settings_binding(int i);

// The configuration file "@config".
void read_config();
void write_config();
