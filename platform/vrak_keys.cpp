// Key names, aliases and axes. Every key has a number (0x1000 + its PC set-1 scan
// code, 0x100 marking the extended keys) and names: a few special names, SDL's own
// names for the keys while SDL's video is running, and a built-in table that keeps
// configuration files readable on any machine. Aliases rename a binding before it
// is looked up. Axes are opened by name; the only device so far is "cursor", the
// pointer position in the window.
#include "platform/vrak_local.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

struct KeyName {
    const char *name;
    int code;
};

static const KeyName SPECIAL_NAMES[] = {
    {"Close", VRAK_CLOSE},
    {"Mouse Left", VRAK_MOUSE_LEFT},
    {"Mouse Middle", VRAK_MOUSE_MIDDLE},
    {"Mouse Right", VRAK_MOUSE_RIGHT},
};

// Set-1 scan codes. The name of a code is its first entry, so "Space" comes
// before " ".
// clang-format off
static const KeyName BUILTIN_NAMES[] = {
    {"Esc", 0x01},          {"1", 0x02},           {"2", 0x03},
    {"3", 0x04},            {"4", 0x05},           {"5", 0x06},
    {"6", 0x07},            {"7", 0x08},           {"8", 0x09},
    {"9", 0x0A},            {"0", 0x0B},           {"-", 0x0C},
    {"=", 0x0D},            {"Backspace", 0x0E},   {"Tab", 0x0F},
    {"Q", 0x10},            {"W", 0x11},           {"E", 0x12},
    {"R", 0x13},            {"T", 0x14},           {"Y", 0x15},
    {"U", 0x16},            {"I", 0x17},           {"O", 0x18},
    {"P", 0x19},            {"[", 0x1A},           {"]", 0x1B},
    {"Enter", 0x1C},        {"Left Ctrl", 0x1D},   {"A", 0x1E},
    {"S", 0x1F},            {"D", 0x20},           {"F", 0x21},
    {"G", 0x22},            {"H", 0x23},           {"J", 0x24},
    {"K", 0x25},            {"L", 0x26},           {";", 0x27},
    {"'", 0x28},            {"`", 0x29},           {"Left Shift", 0x2A},
    {"\\", 0x2B},           {"Z", 0x2C},           {"X", 0x2D},
    {"C", 0x2E},            {"V", 0x2F},           {"B", 0x30},
    {"N", 0x31},            {"M", 0x32},           {",", 0x33},
    {".", 0x34},            {"/", 0x35},           {"Right Shift", 0x36},
    {"Keypad *", 0x37},     {"Space", 0x39},       {" ", 0x39},
    {"Caps Lock", 0x3A},    {"F1", 0x3B},          {"F2", 0x3C},
    {"F3", 0x3D},           {"F4", 0x3E},          {"F5", 0x3F},
    {"F6", 0x40},           {"F7", 0x41},          {"F8", 0x42},
    {"F9", 0x43},           {"F10", 0x44},         {"Pause", 0x45},
    {"Keypad 7", 0x47},     {"Keypad 8", 0x48},    {"Keypad 9", 0x49},
    {"Keypad -", 0x4A},     {"Keypad 4", 0x4B},    {"Keypad 5", 0x4C},
    {"Keypad 6", 0x4D},     {"Keypad +", 0x4E},    {"Keypad 1", 0x4F},
    {"Keypad 2", 0x50},     {"Keypad 3", 0x51},    {"Keypad 0", 0x52},
    {"Keypad .", 0x53},     {"F11", 0x57},         {"F12", 0x58},
    {"Keypad Enter", 0x11C}, {"Right Ctrl", 0x11D}, {"Keypad /", 0x135},
    {"Num Lock", 0x145},    {"Home", 0x147},       {"Up", 0x148},
    {"Page Up", 0x149},     {"Left", 0x14B},       {"Right", 0x14D},
    {"End", 0x14F},         {"Down", 0x150},       {"Page Down", 0x151},
    {"Insert", 0x152},      {"Delete", 0x153},
};
// clang-format on
static_assert(sizeof BUILTIN_NAMES / sizeof BUILTIN_NAMES[0] == 98);

struct ScanMap {
    SDL_Scancode sdl;
    int set1;
};

// SDL (USB usage) scancodes to set-1 codes. Where two SDL keys share a set-1 code
// the first listed gives the platform's name. Pause and Num Lock follow the codes
// the configuration files use: Pause plain 0x45, Num Lock extended.
// clang-format off
static const ScanMap SCAN_MAP[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},       {SDL_SCANCODE_1, 0x02},
    {SDL_SCANCODE_2, 0x03},            {SDL_SCANCODE_3, 0x04},
    {SDL_SCANCODE_4, 0x05},            {SDL_SCANCODE_5, 0x06},
    {SDL_SCANCODE_6, 0x07},            {SDL_SCANCODE_7, 0x08},
    {SDL_SCANCODE_8, 0x09},            {SDL_SCANCODE_9, 0x0A},
    {SDL_SCANCODE_0, 0x0B},            {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},       {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},          {SDL_SCANCODE_Q, 0x10},
    {SDL_SCANCODE_W, 0x11},            {SDL_SCANCODE_E, 0x12},
    {SDL_SCANCODE_R, 0x13},            {SDL_SCANCODE_T, 0x14},
    {SDL_SCANCODE_Y, 0x15},            {SDL_SCANCODE_U, 0x16},
    {SDL_SCANCODE_I, 0x17},            {SDL_SCANCODE_O, 0x18},
    {SDL_SCANCODE_P, 0x19},            {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B}, {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},        {SDL_SCANCODE_A, 0x1E},
    {SDL_SCANCODE_S, 0x1F},            {SDL_SCANCODE_D, 0x20},
    {SDL_SCANCODE_F, 0x21},            {SDL_SCANCODE_G, 0x22},
    {SDL_SCANCODE_H, 0x23},            {SDL_SCANCODE_J, 0x24},
    {SDL_SCANCODE_K, 0x25},            {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27},    {SDL_SCANCODE_APOSTROPHE, 0x28},
    {SDL_SCANCODE_GRAVE, 0x29},        {SDL_SCANCODE_LSHIFT, 0x2A},
    {SDL_SCANCODE_BACKSLASH, 0x2B},    {SDL_SCANCODE_NONUSHASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C},            {SDL_SCANCODE_X, 0x2D},
    {SDL_SCANCODE_C, 0x2E},            {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30},            {SDL_SCANCODE_N, 0x31},
    {SDL_SCANCODE_M, 0x32},            {SDL_SCANCODE_COMMA, 0x33},
    {SDL_SCANCODE_PERIOD, 0x34},       {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36},       {SDL_SCANCODE_KP_MULTIPLY, 0x37},
    {SDL_SCANCODE_LALT, 0x38},         {SDL_SCANCODE_SPACE, 0x39},
    {SDL_SCANCODE_CAPSLOCK, 0x3A},     {SDL_SCANCODE_F1, 0x3B},
    {SDL_SCANCODE_F2, 0x3C},           {SDL_SCANCODE_F3, 0x3D},
    {SDL_SCANCODE_F4, 0x3E},           {SDL_SCANCODE_F5, 0x3F},
    {SDL_SCANCODE_F6, 0x40},           {SDL_SCANCODE_F7, 0x41},
    {SDL_SCANCODE_F8, 0x42},           {SDL_SCANCODE_F9, 0x43},
    {SDL_SCANCODE_F10, 0x44},          {SDL_SCANCODE_PAUSE, 0x45},
    {SDL_SCANCODE_SCROLLLOCK, 0x46},   {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},         {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},     {SDL_SCANCODE_KP_4, 0x4B},
    {SDL_SCANCODE_KP_5, 0x4C},         {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},      {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50},         {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52},         {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56}, {SDL_SCANCODE_F11, 0x57},
    {SDL_SCANCODE_F12, 0x58},          {SDL_SCANCODE_KP_ENTER, 0x11C},
    {SDL_SCANCODE_RCTRL, 0x11D},       {SDL_SCANCODE_KP_DIVIDE, 0x135},
    {SDL_SCANCODE_PRINTSCREEN, 0x137}, {SDL_SCANCODE_RALT, 0x138},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x145}, {SDL_SCANCODE_HOME, 0x147},
    {SDL_SCANCODE_UP, 0x148},          {SDL_SCANCODE_PAGEUP, 0x149},
    {SDL_SCANCODE_LEFT, 0x14B},        {SDL_SCANCODE_RIGHT, 0x14D},
    {SDL_SCANCODE_END, 0x14F},         {SDL_SCANCODE_DOWN, 0x150},
    {SDL_SCANCODE_PAGEDOWN, 0x151},    {SDL_SCANCODE_INSERT, 0x152},
    {SDL_SCANCODE_DELETE, 0x153},      {SDL_SCANCODE_LGUI, 0x15B},
    {SDL_SCANCODE_RGUI, 0x15C},        {SDL_SCANCODE_APPLICATION, 0x15D},
};
// clang-format on

static constexpr int SCAN_CODES = 512;
static constexpr int CURSOR_AXES = 2;

static struct {
    bool platform_names_loaded;
    char platform_names[SCAN_CODES][32];
    std::vector<std::pair<std::string, std::string>> aliases;
} keys;

struct VrakAxis {
    GameWindow *window;
    int index;
};

int vrak_scancode_to_set1(SDL_Scancode scancode)
{
    for (const ScanMap &m : SCAN_MAP)
        if (m.sdl == scancode)
            return m.set1;
    return 0;
}

// SDL's own key names, while its video part runs (the names describe the
// keyboard the window system sees); otherwise none.
static const char *platform_name(int scan)
{
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        return "";
    if (!keys.platform_names_loaded) {
        for (int i = (int)(sizeof SCAN_MAP / sizeof SCAN_MAP[0]) - 1; i >= 0; i--) {
            const char *name = SDL_GetScancodeName(SCAN_MAP[i].sdl);
            snprintf(keys.platform_names[SCAN_MAP[i].set1], sizeof keys.platform_names[0], "%s",
                     name ? name : "");
        }
        keys.platform_names_loaded = true;
    }
    return keys.platform_names[scan];
}

static const char *builtin_name(int scan)
{
    for (const KeyName &k : BUILTIN_NAMES)
        if (k.code == scan)
            return k.name;
    return nullptr;
}

static int loose_char(char c)
{
    unsigned char u = (unsigned char)c;
    if (isspace(u) || c == '_')
        return ' ';
    return tolower(u);
}

static bool same_name(const char *a, const char *b, bool loose)
{
    if (!loose)
        return strcmp(a, b) == 0;
    for (; *a && *b; a++, b++)
        if (loose_char(*a) != loose_char(*b))
            return false;
    return *a == *b;
}

static int find_code(const char *name, bool loose)
{
    for (const KeyName &k : SPECIAL_NAMES)
        if (same_name(k.name, name, loose))
            return k.code;
    for (int scan = 0; scan < SCAN_CODES; scan++) {
        const char *p = platform_name(scan);
        if (p[0] && same_name(p, name, loose))
            return VRAK_KEY_BASE + scan;
    }
    for (const KeyName &k : BUILTIN_NAMES)
        if (same_name(k.name, name, loose))
            return VRAK_KEY_BASE + k.code;
    return 0;
}

// "0x" and up to three hex digits' worth of value: a scan code up to 511.
static int hex_code(const char *name)
{
    if (name[0] != '0' || name[1] != 'x' || !name[2])
        return 0;
    int value = 0;
    for (const char *p = name + 2; *p; p++) {
        if (!isxdigit((unsigned char)*p))
            return 0;
        int digit = isdigit((unsigned char)*p) ? *p - '0' : tolower((unsigned char)*p) - 'a' + 10;
        value = value * 16 + digit;
        if (value >= SCAN_CODES)
            return 0;
    }
    return VRAK_KEY_BASE + value;
}

static const char *resolve_alias(const char *name)
{
    for (const auto &a : keys.aliases)
        if (a.first == name)
            return a.second.c_str();
    return name;
}

int vrak_key_code(GameWindow *window, const char *name)
{
    (void)window; // device buttons will need the window's device list
    if (!name || !name[0])
        return 0;
    name = resolve_alias(name);
    int code = find_code(name, false);
    if (!code)
        code = find_code(name, true);
    if (!code)
        code = hex_code(name);
    return code;
}

bool vrak_key_name(GameWindow *window, int code, char *buf, size_t size)
{
    (void)window;
    if (!buf || size == 0)
        return false;
    buf[0] = 0;
    const char *name = nullptr;
    char hex[16];
    for (const KeyName &k : SPECIAL_NAMES)
        if (k.code == code)
            name = k.name;
    if (!name && code >= VRAK_KEY_BASE && code < VRAK_KEY_BASE + SCAN_CODES) {
        int scan = code - VRAK_KEY_BASE;
        name = platform_name(scan);
        if (!name[0])
            name = builtin_name(scan);
        if (!name) {
            snprintf(hex, sizeof hex, "0x%x", scan);
            name = hex;
        }
    }
    // A name that does not fit would come back as another key.
    if (!name || strlen(name) >= size)
        return false;
    memcpy(buf, name, strlen(name) + 1);
    return true;
}

static bool has_alias(const char *name)
{
    for (const auto &a : keys.aliases)
        if (a.first == name)
            return true;
    return false;
}

void vrak_alias(const char *name, const char *replacement)
{
    if (!name || !replacement)
        return;
    if (has_alias(name)) {
        vrak_log("Second alias for '%.200s' ('%.200s') ignored\n", name, replacement);
        return;
    }
    keys.aliases.emplace_back(name, replacement);
}

void vrak_alias_quietly(const char *name, const char *replacement)
{
    if (!has_alias(name))
        keys.aliases.emplace_back(name, replacement);
}

// Reads a device name and a number from "NAME.axis[N]" or "NAME axis N" (the two
// ways a configuration file writes an axis); false when the text is neither.
static bool parse_axis_name(const char *text, char device[64], int *index)
{
    size_t len = 0;
    const char *p = text;
    bool dotted = false;
    while (p[len] && p[len] != '.' && !isspace((unsigned char)p[len]))
        len++;
    if (len == 0 || len > 63)
        return false;
    memcpy(device, p, len);
    device[len] = 0;
    p += len;
    if (strncmp(p, ".axis[", 6) == 0) {
        dotted = true;
        p += 6;
    } else if (isspace((unsigned char)*p)) {
        while (isspace((unsigned char)*p))
            p++;
        if (strncmp(p, "axis", 4) != 0)
            return false;
        p += 4;
        while (isspace((unsigned char)*p))
            p++;
    } else {
        return false;
    }
    if (!isdigit((unsigned char)*p))
        return false;
    int n = 0;
    for (; isdigit((unsigned char)*p); p++) {
        n = n * 10 + (*p - '0');
        if (n > 100000)
            return false;
    }
    if (dotted && *p++ != ']')
        return false;
    if (*p)
        return false;
    *index = n;
    return true;
}

VrakAxis *vrak_axis_open(GameWindow *window, const char *name)
{
    if (!window || !name)
        return nullptr;
    name = resolve_alias(name);
    char device[64];
    int index = 0;
    if (!parse_axis_name(name, device, &index))
        return nullptr;
    // Game controllers are not provided yet: the pointer is the only device.
    if (strcmp(device, "cursor") != 0 || index >= CURSOR_AXES)
        return nullptr;
    VrakAxis *axis = new VrakAxis;
    axis->window = window;
    axis->index = index;
    return axis;
}

int vrak_axis_read(VrakAxis *axis)
{
    if (!axis)
        return 0;
    int x = 0;
    int y = 0;
    SDL_GetMouseState(&x, &y);
    return axis->index == 0 ? x : y;
}

void vrak_axis_close(VrakAxis *axis)
{
    delete axis;
}
