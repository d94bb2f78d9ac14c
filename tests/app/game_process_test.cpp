// The game as a user starts it: exit statuses, messages, the log file, signals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/support/process.h"

namespace {

const std::string game = std::string(RUTTMOOR_BUILD_DIR) + "/ruttmoor";

struct GameProcess : testing::Test {
    std::string root, xdg;

    void SetUp() override
    {
        root = make_temp_dir();
        xdg = root + "/xdg";
        std::filesystem::create_directories(root + "/home");
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    std::vector<std::string> env(const std::string &data_dir) const
    {
        return {"HOME=" + root + "/home", "XDG_DATA_HOME=" + xdg, "QK_HOME=" + data_dir,
                "SDL_AUDIODRIVER=dummy", "VRAK_LOGFILE", "VRAK_LOGFILE_FLAGS"};
    }
    std::string home() const { return xdg + "/Ruttmoor/"; }
};

TEST_F(GameProcess, CommandLineErrorsExitWithStatusOne)
{
    auto e = env(RUTTMOOR_BUILD_DIR);
    e.push_back("DISPLAY");
    ProcessResult r = run_process(game, {"--bogus"}, e);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "bad option '--bogus'\n");

    r = run_process(game, {"--lock-fps"}, e);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Bad arg for --lock-fps\n");
}

TEST_F(GameProcess, MissingGameDataIsReportedAndEndsCleanly)
{
    std::filesystem::create_directories(root + "/empty");
    auto e = env(root + "/empty");
    e.push_back("DISPLAY");
    ProcessResult r = run_process(game, {}, e);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Can't find game data"), std::string::npos) << r.err;
    // The home folder and the log exist even so.
    EXPECT_TRUE(std::filesystem::exists(home() + "lastlog.txt"));
}

TEST_F(GameProcess, OpenHomeCreatesTheFolderAndShowsIt)
{
    // A stand-in for the desktop's file browser that records what it was asked.
    std::string bin = root + "/bin";
    std::filesystem::create_directories(bin);
    {
        std::ofstream s(bin + "/xdg-open");
        s << "#!/bin/sh\necho \"$1\" > " << root << "/opened\n";
    }
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    auto e = env(RUTTMOOR_BUILD_DIR);
    e.push_back("DISPLAY");
    e.push_back("PATH=" + bin + ":/usr/bin:/bin");
    ProcessResult r = run_process(game, {"--open-home"}, e);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::filesystem::is_directory(home()));
    for (int i = 0; i < 100 && !std::filesystem::exists(root + "/opened"); i++)
        run_process("/bin/sleep", {"0.02"}, {});
    std::string opened = read_file(root + "/opened");
    EXPECT_NE(opened.find("Ruttmoor"), std::string::npos) << opened;
}

// Needs a display: scripts/test runs the suite under Xvfb.
TEST_F(GameProcess, WindowTitleLoopEndsOnSigterm)
{
    if (!getenv("DISPLAY") || !*getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    ProcessResult r = run_process(game, {"--lock-fps", "60", "--record-video", "--nosound"},
                                  env(RUTTMOOR_BUILD_DIR), 2.0);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.seconds_after_signal, 1.0);
    // The title view records no video.
    EXPECT_EQ(r.out.size(), 0u);

    std::string log = read_file(home() + "lastlog.txt");
    std::regex first_lines(R"(^\[\d+:\d\d:\d\d\.\d\d\] Logfile ".*lastlog\.txt" opened\n)"
                           R"(\[\d+:\d\d:\d\d\.\d\d\] VRAK 0\.31\n)");
    EXPECT_TRUE(std::regex_search(log, first_lines)) << log.substr(0, 300);
    EXPECT_NE(log.find("GL_VERSION: "), std::string::npos);
}

} // namespace
