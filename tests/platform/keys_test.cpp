// Key names without a window: the special names, the built-in table, the loose
// match, the hexadecimal form, names of codes and aliases; and the full-screen
// mode choice.
#include "platform/vrak.h"
#include "platform/vrak_local.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

TEST(KeyNamesTest, NamesGiveCodes)
{
    struct Case {
        const char *name;
        int code;
    } cases[] = {
        {"Esc", 0x1001},
        {"X", 0x102D},
        {"x", 0x102D},
        {"Right Ctrl", 0x111D},
        {"right ctrl", 0x111D},
        {"RIGHT_CTRL", 0x111D},
        {"Right\tCtrl", 0x111D},
        {"Space", 0x1039},
        {" ", 0x1039},
        {"\\", 0x102B},
        {"Keypad Enter", 0x111C},
        {"page down", 0x1151},
        {"Pause", 0x1045},
        {"Num Lock", 0x1145},
        {"Close", 0xDEAD},
        {"Mouse Left", 0x2000},
        {"mouse_middle", 0x2001},
        {"Mouse Right", 0x2002},
        {"0x2d", 0x102D},
        {"0x1FF", 0x11FF},
        {"0x0", 0x1000},
        {"0x200", 0},
        {"0x10000000000000000000002d", 0},
        {"0x", 0},
        {"0x2g", 0},
        {"0X2d", 0},
        {"RightCtrl", 0},
        {"Right  Ctrl", 0},
        {"", 0},
        {"Joystick1.key[0]", 0},
        {"Joystick1 button 3", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vrak_key_code(nullptr, c.name), c.code);
    }
    EXPECT_EQ(vrak_key_code(nullptr, nullptr), 0);
}

TEST(KeyNamesTest, CodesGiveNames)
{
    struct Case {
        int code;
        const char *name; // null: no name
    } cases[] = {
        {0x102D, "X"},    {0x1039, "Space"}, {0x111D, "Right Ctrl"}, {0x1153, "Delete"},
        {0x1038, "0x38"}, {0x11FF, "0x1ff"}, {0xDEAD, "Close"},      {0x2001, "Mouse Middle"},
        {'a', nullptr},   {9, nullptr},      {0x1200, nullptr},      {0x12345, nullptr},
        {-1, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        char buf[64] = "junk";
        bool ok = vrak_key_name(nullptr, c.code, buf, sizeof buf);
        EXPECT_EQ(ok, c.name != nullptr);
        EXPECT_STREQ(buf, c.name ? c.name : "");
    }
    // A name cut short would name another key.
    char small[4] = "abc";
    EXPECT_FALSE(vrak_key_name(nullptr, 0x1153, small, sizeof small));
    EXPECT_STREQ(small, "");
}

TEST(KeyNamesTest, EveryKeyNameLeadsBackToItsKey)
{
    // What the configuration file stores must resolve to the same key next time.
    for (int code = VRAK_KEY_BASE; code < VRAK_KEY_BASE + 512; code++) {
        char buf[64];
        ASSERT_TRUE(vrak_key_name(nullptr, code, buf, sizeof buf)) << code;
        EXPECT_EQ(vrak_key_code(nullptr, buf), code) << buf;
    }
}

static std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(KeyNamesTest, OnlyTheFirstAliasCounts)
{
    char tmpl[] = "/tmp/vrak-keys-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string log = std::string(tmpl) + "/log.txt";
    setenv("HOME", tmpl, 1);
    setenv("VRAK_LOGFILE", log.c_str(), 1);
    vrak_log_reset();

    vrak_alias("test-throttle", "Up");
    vrak_alias("test-throttle", "Down");
    vrak_alias("test-brake", "no such key");
    EXPECT_EQ(vrak_key_code(nullptr, "test-throttle"), 0x1148);
    EXPECT_EQ(vrak_key_code(nullptr, "test-brake"), 0);
    // Aliases match exactly; the loose match is for key names only.
    EXPECT_EQ(vrak_key_code(nullptr, "Test-Throttle"), 0);

    vrak_log_reset();
    unsetenv("VRAK_LOGFILE");
    EXPECT_NE(read_file(log).find("] Second alias for 'test-throttle' ('Down') ignored\n"),
              std::string::npos);
    std::filesystem::remove_all(tmpl);
}

TEST(KeyNamesTest, AxesNeedAWindow)
{
    EXPECT_EQ(vrak_axis_open(nullptr, "cursor.axis[0]"), nullptr);
    EXPECT_EQ(vrak_axis_read(nullptr), 0);
    vrak_axis_close(nullptr);
}

TEST(FullScreenModeTest, SmallestModeThatFits)
{
    const VrakVideoMode modes[] = {
        {1920, 1080, 32}, {800, 600, 32}, {1024, 768, 32}, {640, 480, 16}, {0, 0, 0},
    };
    const VrakVideoMode desktop = modes[0];
    struct Case {
        int width, height;
        int expect_width, expect_height;
    } cases[] = {
        {800, 600, 800, 600},    {900, 600, 1024, 768},    {640, 480, 640, 480},
        {1024, 769, 1920, 1080}, {5000, 5000, 1920, 1080}, {0, 0, 1920, 1080},
        {800, 0, 1920, 1080},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        VrakVideoMode m = vrak_choose_full_screen_mode(modes, desktop, c.width, c.height);
        EXPECT_EQ(m.width, c.expect_width);
        EXPECT_EQ(m.height, c.expect_height);
    }
}
