// Folders, the folder browser, machine facts, quit signals, the message box and
// the null and read-back audio outputs.
#include "platform/vrak.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

// Sets or unsets an environment variable for one scope.
struct ScopedEnv {
    std::string name;
    bool had;
    std::string old;

    ScopedEnv(const char *n, const char *value) : name(n)
    {
        const char *v = getenv(n);
        had = v != nullptr;
        old = v ? v : "";
        if (value)
            setenv(n, value, 1);
        else
            unsetenv(n);
    }
    ~ScopedEnv()
    {
        if (had)
            setenv(name.c_str(), old.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

static std::string make_temp_dir()
{
    char tmpl[] = "/tmp/vrak-system-XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "";
}

TEST(SystemTest, UserDataFolder)
{
    struct Case {
        const char *xdg;
        const char *home;
        const char *expected; // null: no folder
    } cases[] = {
        {"/data/xdg", "/home/rider", "/data/xdg"},
        {"/data/xdg//", "/home/rider", "/data/xdg"},
        {"relative/xdg", "/home/rider", "/home/rider/.local/share"},
        {"", "/home/rider/", "/home/rider/.local/share"},
        {nullptr, "/home/rider", "/home/rider/.local/share"},
        {nullptr, nullptr, nullptr},
        {"", "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.xdg ? c.xdg : "-") + " " + (c.home ? c.home : "-"));
        ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
        ScopedEnv home("HOME", c.home);
        std::string out = "unchanged";
        EXPECT_EQ(vrak_user_data_dir(&out), c.expected != nullptr);
        if (c.expected) {
            EXPECT_EQ(out, c.expected);
        }
    }
}

TEST(SystemTest, MachineFacts)
{
    std::string exe;
    ASSERT_TRUE(vrak_exe_dir(&exe));
    EXPECT_TRUE(fs::exists(exe + "/test_platform")) << exe;
    EXPECT_GT(vrak_physical_memory(), 16u * 1024 * 1024);
#if defined(__x86_64__)
    EXPECT_TRUE(vrak_cpu_has_mmx());
#endif
}

static volatile sig_atomic_t quit_requested;

TEST(SystemTest, QuitSignalsCallTheHandler)
{
    quit_requested = 0;
    vrak_on_quit_signal([] { quit_requested = quit_requested + 1; });
    raise(SIGTERM);
    raise(SIGINT);
    EXPECT_EQ(quit_requested, 2);
    vrak_on_quit_signal(nullptr);
    struct sigaction sa;
    sigaction(SIGTERM, nullptr, &sa);
    EXPECT_EQ(sa.sa_handler, SIG_DFL);
}

TEST(SystemTest, OpenFolderRunsTheDesktopOpener)
{
    std::string dir = make_temp_dir();
    ASSERT_FALSE(dir.empty());
    std::string marker = dir + "/opened";
    std::string script = dir + "/xdg-open";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s' \"$1\" > " << marker << ".tmp && /bin/mv " << marker
            << ".tmp " << marker << "\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    {
        ScopedEnv path("PATH", dir.c_str());
        EXPECT_TRUE(vrak_open_folder("/some folder/with spaces"));
    }
    // The opener runs detached: wait for its mark rather than for the process.
    for (int i = 0; i < 200 && !fs::exists(marker); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(marker);
    std::string arg;
    std::getline(in, arg);
    EXPECT_EQ(arg, "/some folder/with spaces");

    fs::remove(script);
    {
        ScopedEnv path("PATH", dir.c_str());
        EXPECT_FALSE(vrak_open_folder(dir.c_str()));
    }
    EXPECT_FALSE(vrak_open_folder(""));
    EXPECT_FALSE(vrak_open_folder(nullptr));
    fs::remove_all(dir);
}

TEST(SystemTest, MessageBoxTextGoesToStandardError)
{
    // Without a display the box cannot appear, and must not hang or crash.
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    testing::internal::CaptureStderr();
    vrak_message_box("Error", "Out of %s", "virtual memory");
    std::string long_text(3000, 'q');
    vrak_message_box("Error", "%s", long_text.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Out of virtual memory\n" + std::string(1023, 'q') + "\n");
}

TEST(AudioTest, NullAndReadBackOutputs)
{
    VrakAudio *device = vrak_audio_open(nullptr);
    ASSERT_NE(device, nullptr);
    vrak_audio_update(device);
    int bytes = -1;
    EXPECT_EQ(vrak_audio_read_back(device, &bytes), nullptr);
    EXPECT_EQ(bytes, 0);
    vrak_audio_close(device);

    VrakAudio *readback = vrak_audio_open_readback(nullptr, 88320, 1380);
    ASSERT_NE(readback, nullptr);
    for (int block = 0; block < 2; block++) {
        vrak_audio_update(readback);
        const unsigned char *data = vrak_audio_read_back(readback, &bytes);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(bytes, 2 * 1380);
        for (int i = 0; i < bytes; i++)
            ASSERT_EQ(data[i], 0x80) << i;
    }
    vrak_audio_close(readback);

    EXPECT_EQ(vrak_audio_open_readback(nullptr, 88320, 0), nullptr);
    EXPECT_EQ(vrak_audio_open_readback(nullptr, 0, 100), nullptr);
    EXPECT_EQ(vrak_audio_open_readback(nullptr, 88320, -5), nullptr);
    vrak_audio_close(nullptr);
    EXPECT_EQ(vrak_audio_read_back(nullptr, nullptr), nullptr);
}
