// Every user setting with its label, limits and default, and the graphics presets.
#include "core/settings.h"

#include "core/common.h"

static Settings s;

const Settings &settings()
{
    return s;
}

Settings &settings_edit()
{
    return s;
}

static NumberSetting number(const char *label, double value, double step, double lo, double hi)
{
    return NumberSetting{label, value, step, lo, hi};
}

static ChoiceSetting choice(const char *label, std::vector<std::string> choices, int selected)
{
    return ChoiceSetting{label, std::move(choices), selected};
}

static ChoiceSetting no_yes(const char *label, int selected)
{
    return choice(label, {"No", "Yes"}, selected);
}

static KeyBinding binding(const char *label, const char *key)
{
    return KeyBinding{label, intern_string(key), 0, nullptr, nullptr, 0.0f, 1.0f};
}

// The twelve graphics settings, one column per preset.
struct PresetRow {
    double values[PRESET_COUNT];
};
static const PresetRow preset_ground_detail = {{70, 50, 70, 90}};
static const PresetRow preset_ground_texture_detail = {{9, 7, 9, 10}};
static const PresetRow preset_ground_texture_dim = {{1, 1, 2, 3}};      // "64x64" ...
static const PresetRow preset_ground_mipmaps = {{1, 1, 1, 1}};
static const PresetRow preset_texture_compress = {{0, 1, 1, 0}};
static const PresetRow preset_render_texture = {{0, 2, 4, 4}};          // "Software" ...
static const PresetRow preset_use_shader = {{1, 0, 1, 1}};
static const PresetRow preset_model_detail = {{50, 25, 50, 75}};
static const PresetRow preset_model_texture_detail = {{9, 7, 9, 10}};
static const PresetRow preset_lens_flare = {{1, 0, 1, 1}};
static const PresetRow preset_reflections = {{1, 0, 1, 1}};
static const PresetRow preset_roost_density = {{1000, 0, 1000, 1000}};

void apply_graphics_preset(GraphicsPreset p)
{
    s.ground_detail.value = preset_ground_detail.values[p];
    s.ground_texture_detail.value = preset_ground_texture_detail.values[p];
    s.ground_texture_dim.selected = (int)preset_ground_texture_dim.values[p];
    s.ground_mipmaps.selected = (int)preset_ground_mipmaps.values[p];
    s.texture_compress.selected = (int)preset_texture_compress.values[p];
    s.render_texture.selected = (int)preset_render_texture.values[p];
    s.use_shader.selected = (int)preset_use_shader.values[p];
    s.model_detail.value = preset_model_detail.values[p];
    s.model_texture_detail.value = preset_model_texture_detail.values[p];
    s.lens_flare.selected = (int)preset_lens_flare.values[p];
    s.reflections.selected = (int)preset_reflections.values[p];
    s.roost_density.value = preset_roost_density.values[p];
}

void settings_reset()
{
    s.xres = 640;
    s.yres = 480;
    s.draw_fps = 0;
    s.draw_time = 0;
    s.draw_ping = 1;
    s.spy = 0;
    s.track = intern_string("fernbottom");
    s.record = no_yes("Record Demo", 0);
    s.skill = choice("Robot Skill", {"Novice", "Amateur", "Expert"}, 0);
    s.minutes = number("Minutes", 0, 1, 0, 60);
    s.laps = number("Laps", 5, 1, 0, 50);
    static const char *const gate_labels[GATE_SLOTS] = {
        "Gate 1",  "Gate 2",  "Gate 3",  "Gate 4",  "Gate 5",  "Gate 6",  "Gate 7",
        "Gate 8",  "Gate 9",  "Gate 10", "Gate 11", "Gate 12", "Gate 13", "Gate 14",
        "Gate 15", "Gate 16", "Gate 17", "Gate 18", "Gate 19", "Gate 20", "Gate 21",
        "Gate 22", "Gate 23", "Gate 24", "Gate 25", "Gate 26", "Gate 27", "Gate 28",
        "Gate 29", "Gate 30", "Gate 31", "Gate 32", "Gate 33", "Gate 34", "Gate 35",
        "Gate 36", "Gate 37", "Gate 38", "Gate 39", "Gate 40"};
    for (int i = 0; i < GATE_SLOTS; i++)
        s.slots[i] = choice(gate_labels[i],
                            {"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"}, 0);
    s.ghost_fade_distance = number("Ghost Fade Distance", 10, 1, 0, 40);
    s.time_trial_abort = no_yes("Backing Up Aborts Attempt", 1);
    s.video_mode = choice("Video Mode", {"Default Fullscreen", "Windowed"}, 0);
    s.server_name = TextSetting{"Server", 127, "localhost"};
    for (auto &h : s.server_name_hist)
        h.clear();
    s.ground_detail = number("Ground Geometric Detail", 70, 1, 0, 100);
    s.ground_texture_detail = number("Ground Texture Levels", 9, 1, 0, 10);
    s.ground_texture_dim = choice("Ground Texture Resolution",
                                  {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"},
                                  1);
    s.ground_mipmaps = no_yes("Enable Ground Mipmaps", 1);
    s.texture_compress = choice("Compress Textures", {"No", "Yes", "Always"}, 0);
    s.render_texture = choice("Terrain Rendering Method",
                              {"Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy",
                               "Shaders/Direct"},
                              0);
    s.use_shader = no_yes("Use Shader Programs", 1);
    s.roost_density = number("Roost Density", 1000, 10, 0, 1000);
    s.lens_flare = no_yes("Enable Lens Flares", 1);
    s.reflections = no_yes("Enable Reflections", 1);
    s.hide_rider = no_yes("Hide 1st Person Rider", 0);
    s.rigid_camera = no_yes("Rigid 3rd person camera", 0);
    s.model_detail = number("Model Geometric Detail", 50, 1, 0, 100);
    s.model_texture_detail = number("Model Texture Detail", 9, 1, 0, 10);
    s.fov = number("Field Of View", 110, 1, 10, 170);
    s.first_person_height = number("1st Person Height", 0, 0.03125, 0, 1);
    s.first_person_angle = number("1st Person Angle", 0, 1, 0, 40);
    s.third_person_height = number("3rd Person Height", 5, 1, 0, 20);
    s.third_person_distance = number("3rd Person Distance", 10, 1, 5, 40);
    s.volume = number("Volume", 10, 1, 0, 10);
    s.comp_volume = number("Competitor Volume", 8, 1, 0, 10);
    s.playback_mode = choice("Playback Mode", {"Playback Only", "Race Against"}, 0);
    s.billboard_optimize_lookahead = 8;
    s.message_lines = 5;
    s.demo_backups = 0;
    s.map_scale = 1;
    s.track_choice = choice("Track", {}, 0);

    s.throttle_key = binding("Throttle", "x");
    s.front_brake_key = binding("Front Brake", "c");
    s.rear_brake_key = binding("Rear Brake", "v");
    s.left_key = binding("Left", "left");
    s.right_key = binding("Right", "right");
    s.clutch_key = binding("Clutch", "z");
    s.upshift_key = binding("Upshift", "up");
    s.downshift_key = binding("Downshift", "down");
    s.dab_key = binding("Sit/Dab", "right ctrl");
    s.back_up_key = binding("Back up", "b");
    s.lean_forward_key = binding("Lean Forward", "n");
    s.lean_backward_key = binding("Lean Backward", "m");
    s.pause_key = binding("Pause", "pause");
    s.step_key = binding("Step", ".");
    s.rewind_key = binding("Rewind", "\\");
    s.skip_key = binding("Skip", "/");
    s.prev_key = binding("Previous Bike", "[");
    s.next_key = binding("Next Bike", "]");
    s.console_key = binding("Chat", "t");
    s.screenshot_key = binding("Screenshot", "s");
}

static KeyBinding *const bindings[] = {
    &s.throttle_key, &s.front_brake_key, &s.rear_brake_key,  &s.left_key,
    &s.right_key,    &s.clutch_key,      &s.upshift_key,     &s.downshift_key,
    &s.dab_key,      &s.back_up_key,     &s.lean_forward_key, &s.lean_backward_key,
    &s.pause_key,    &s.step_key,        &s.rewind_key,      &s.skip_key,
    &s.prev_key,     &s.next_key,        &s.console_key,     &s.screenshot_key,
};

int settings_binding_count()
{
    return (int)(sizeof bindings / sizeof bindings[0]);
}

KeyBinding *settings_binding(int i)
{
    return i >= 0 && i < settings_binding_count() ? bindings[i] : nullptr;
}

// The configuration file comes next: until it exists every run starts from the
// defaults and nothing is written back.
void read_config() {}

void write_config() {}
