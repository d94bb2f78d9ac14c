#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cmdline.h"
#include "core/options.h"
#include "core/settings.h"

namespace {

struct Parsed {
    int status;
    std::string err;
};

Parsed parse(std::vector<std::string> args)
{
    startup_options_edit() = StartupOptions{};
    render_values_edit() = RenderValues{};
    settings_reset();
    args.insert(args.begin(), "ruttmoor");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    testing::internal::CaptureStderr();
    int status = parse_command_line((int)argv.size(), argv.data());
    return {status, testing::internal::GetCapturedStderr()};
}

TEST(CommandLine, ValueOptionsTakeSeparateOrJoinedValues)
{
    for (auto args : {std::vector<std::string>{"--lock-fps", "60"}, {"--lock-fps=60"}}) {
        Parsed p = parse(args);
        EXPECT_EQ(p.status, CMDLINE_CONTINUE);
        EXPECT_EQ(startup_options().lock_fps, 60);
    }
}

TEST(CommandLine, ErrorsEndTheProgramWithTheirMessage)
{
    struct Case {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"--bogus"}, "bad option '--bogus'\n"},
        {{"-x"}, "bad option '-x'\n"},
        {{"--lock-fps"}, "Bad arg for --lock-fps\n"},
        {{"--lock-fps", "fast"}, "Bad arg for --lock-fps\n"},
        {{"--texture-detail", "x"}, "Bad arg for --texture-detail\n"},
        {{"--ground-texture-detail"}, "Bad arg for --ground-texture-detail\n"},
        {{"--roostfrequency=a"}, "Bad arg for --roostfrequency\n"},
        {{"--erode", ""}, "Bad arg for --erode\n"},
        {{"--detail", "x"}, "Bad arg for --detail\n"},
        {{"--max-detail-distance", "x"}, "Bad arg for --max-detail-distance\n"},
        {{"--lod-scale", "x"}, "Bad arg for --lod-scale\n"},
        {{"--lod-bias", "x"}, "Bad arg for --lod-bias\n"},
        {{"--fake-lag", "x"}, "Bad arg for --fake-lag\n"},
        {{"--fake-loss", "x"}, "Bad arg for --fake-loss\n"},
        {{"--chase-center", "1,2"}, "Bad arg for --chase-center\n"},
        {{"--chase-center"}, "Bad arg for --chase-center\n"},
        {{"a.qkdemo", "b.qkdemo"}, "Too many files!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        Parsed p = parse(c.args);
        EXPECT_EQ(p.status, 1);
        EXPECT_EQ(p.err, c.message);
    }
}

TEST(CommandLine, DoubleDashEndsOptions)
{
    Parsed p = parse({"--nosound", "--", "-odd.qkdemo"});
    EXPECT_EQ(p.status, CMDLINE_CONTINUE);
    EXPECT_TRUE(startup_options().nosound);
    EXPECT_EQ(startup_options().demo_file, "-odd.qkdemo");

    p = parse({"--"});
    EXPECT_EQ(p.status, CMDLINE_CONTINUE);
    EXPECT_EQ(startup_options().demo_file, "");

    p = parse({"--", "a", "--", "b"});
    EXPECT_EQ(p.err, "Too many files!\n");
}

TEST(CommandLine, ValuesAreClampedAndConverted)
{
    parse({"--texture-detail", "9"});
    EXPECT_EQ(render_values().model_texture_skip, 4);
    EXPECT_EQ(render_values().ground_texture_skip, 4);
    parse({"--texture-detail", "-3"});
    EXPECT_EQ(render_values().model_texture_skip, 0);
    EXPECT_EQ(render_values().ground_texture_skip, 0);
    parse({"--ground-texture-detail", "3"});
    EXPECT_EQ(render_values().ground_texture_skip, 3);
    EXPECT_EQ(render_values().model_texture_skip, RenderValues{}.model_texture_skip);

    parse({"--roostfrequency", "5000", "--erode", "-4", "--fake-loss", "250", "--fake-lag",
           "250", "--lod-scale", "0"});
    EXPECT_EQ(render_values().roost_count, 1000);
    EXPECT_EQ(startup_options().erode, 0);
    EXPECT_EQ(startup_options().fake_loss, 100);
    EXPECT_DOUBLE_EQ(startup_options().fake_lag, 0.25);
    EXPECT_DOUBLE_EQ(render_values().lod_scale, 1e-6);

    parse({"--max-detail-distance", "30"});
    EXPECT_EQ(startup_options().max_detail_distance, 30);
    EXPECT_EQ(startup_options().far_detail_distance, 35);

    parse({"--chase-center", "1,2.5,-3"});
    EXPECT_FLOAT_EQ(startup_options().chase_center[1], 2.5f);
    EXPECT_FLOAT_EQ(startup_options().chase_center[2], -3.0f);
}

TEST(CommandLine, LenientAndUncheckedValues)
{
    Parsed p = parse({"--depth", "  +24bits", "--zdepth", "junk", "--draw-fps", "-7"});
    EXPECT_EQ(p.status, CMDLINE_CONTINUE);
    EXPECT_EQ(startup_options().depth, 24);
    EXPECT_EQ(startup_options().zdepth, 0);
    EXPECT_EQ(settings().draw_fps, -7);

    // Unchecked "%d" options leave their value alone when it can't be read, and a
    // value option at the end of the line simply has no value.
    p = parse({"--width", "wide", "--height", "600", "--track"});
    EXPECT_EQ(p.status, CMDLINE_CONTINUE);
    EXPECT_EQ(settings().xres, 640);
    EXPECT_EQ(settings().yres, 600);
    EXPECT_EQ(startup_options().track, "");
}

TEST(CommandLine, FlagsAndTexts)
{
    Parsed p = parse({"--learn", "--nolearn", "--super-debug", "--warp", "--track", "hills",
                      "--connect", "ruttmoor:example.org", "--bikes", "4"});
    EXPECT_EQ(p.status, CMDLINE_CONTINUE);
    EXPECT_FALSE(startup_options().learn);
    EXPECT_EQ(startup_options().debug, 2);
    EXPECT_TRUE(startup_options().warp);
    EXPECT_EQ(startup_options().track, "hills");
    EXPECT_EQ(startup_options().connect, "example.org");
    EXPECT_EQ(p.err, "--bikes doesn't do anything anymore\n");

    parse({"--connect=plain.example.org:19800"});
    EXPECT_EQ(startup_options().connect, "plain.example.org:19800");

    // A flag matches only its exact text.
    p = parse({"--nosound=1"});
    EXPECT_EQ(p.err, "bad option '--nosound=1'\n");
}

} // namespace
