// The log file (configuration message, environment override, open modes, control
// messages, time stamps) and the option string.
#include "platform/vrak.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

static VrakTime fake_now;

static VrakTime fake_clock()
{
    return fake_now;
}

static std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

static void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

class LogTest : public testing::Test
{
  protected:
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/vrak-log-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_DATA_HOME", dir.c_str(), 1);
        setenv("QK_HOME", dir.c_str(), 1);
        unsetenv("VRAK_LOGFILE");
        unsetenv("VRAK_LOGFILE_FLAGS");
        unsetenv("VRAK_OPTIONS");
        fake_now = VrakTime{1, 0};
        vrak_set_clock_hooks(fake_clock, nullptr);
        vrak_log_reset();
    }

    void TearDown() override
    {
        vrak_log_reset();
        vrak_set_clock_hooks(nullptr, nullptr);
        unsetenv("VRAK_LOGFILE");
        unsetenv("VRAK_LOGFILE_FLAGS");
        unsetenv("VRAK_OPTIONS");
        fs::remove_all(dir);
    }

    std::string path(const char *name) const { return dir + "/" + name; }

    void close_log()
    {
        const char *none = nullptr;
        vrak_log(none);
    }
};

TEST_F(LogTest, ConfigurationMessageOpensTheLogAndIsNotWritten)
{
    std::string log = path("lastlog.txt");
    write_file(log, "previous run\n");
    vrak_log("VRAK_LOGFILE=%s", log.c_str());
    vrak_log("hello %d\n", 42);
    // Only the first message configures; later ones are ordinary text.
    vrak_log("VRAK_LOGFILE=elsewhere\n");
    close_log();
    vrak_log("after close\n");

    std::string expected = "[0:00:01.00] Logfile \"" + log + "\" opened\n" +
                           "[0:00:01.00] VRAK 0.31\n" + "[0:00:01.00] hello 42\n" +
                           "[0:00:01.00] VRAK_LOGFILE=elsewhere\n";
    EXPECT_EQ(read_file(log), expected);
    EXPECT_FALSE(fs::exists("elsewhere"));
}

TEST_F(LogTest, EnvironmentPathWinsAndChoosesTheMode)
{
    struct Case {
        const char *env;   // VRAK_LOGFILE, with its prefix; %s = the path
        const char *flags; // VRAK_LOGFILE_FLAGS or null
        bool keeps_old_text;
    } cases[] = {
        {">>%s", nullptr, true}, {">%s", nullptr, false}, {"%s", nullptr, false},
        {"%s", "a", true},       {">>%s", "w", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.env) + " flags " + (c.flags ? c.flags : "-"));
        std::string log = path("user.log");
        std::string config_target = path("lastlog.txt");
        write_file(log, "old\n");
        char env[512];
        snprintf(env, sizeof env, c.env, log.c_str());
        setenv("VRAK_LOGFILE", env, 1);
        if (c.flags)
            setenv("VRAK_LOGFILE_FLAGS", c.flags, 1);
        else
            unsetenv("VRAK_LOGFILE_FLAGS");
        vrak_log_reset();

        vrak_log("VRAK_LOGFILE=%s", config_target.c_str());
        vrak_log("line\n");
        close_log();

        std::string text = read_file(log);
        EXPECT_EQ(text.rfind("old\n", 0) == 0, c.keeps_old_text) << text;
        EXPECT_NE(text.find("Logfile \"" + log + "\" opened\n"), std::string::npos) << text;
        EXPECT_NE(text.find("] line\n"), std::string::npos);
        EXPECT_FALSE(fs::exists(config_target));
    }
}

TEST_F(LogTest, EnvironmentAloneLogsTheFirstMessage)
{
    std::string log = path("env.log");
    setenv("VRAK_LOGFILE", log.c_str(), 1);
    vrak_log("first\n");
    close_log();
    std::string text = read_file(log);
    EXPECT_NE(text.find("VRAK 0.31\n"), std::string::npos);
    EXPECT_NE(text.find("] first\n"), std::string::npos);
}

TEST_F(LogTest, WithoutAnyPathNothingIsWritten)
{
    vrak_log("nowhere\n");
    vrak_error("still nowhere");
    close_log();
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(LogTest, UnopenableFileLeavesTheLogSilent)
{
    std::string log = path("missing/dir/log.txt");
    vrak_log("VRAK_LOGFILE=%s", log.c_str());
    vrak_log("lost\n");
    close_log();
    EXPECT_FALSE(fs::exists(log));
}

TEST_F(LogTest, ControlMessagesSwitchFlushingAndAreNeverWritten)
{
    std::string log = path("lastlog.txt");
    vrak_log("VRAK_LOGFILE=%s", log.c_str());
    vrak_log("\x13NOFLUSH");
    vrak_log("buffered\n");
    // Without flushing the line waits in the stream's buffer.
    EXPECT_EQ(read_file(log).find("buffered"), std::string::npos);
    vrak_log("\x13"
             "FLUSH");
    vrak_log("flushed\n");
    std::string text = read_file(log);
    EXPECT_NE(text.find("] buffered\n"), std::string::npos);
    EXPECT_NE(text.find("] flushed\n"), std::string::npos);
    vrak_log("\x13SOMETHING ELSE\n");
    close_log();
    EXPECT_EQ(read_file(log).find('\x13'), std::string::npos);
    EXPECT_EQ(read_file(log).find("FLUSH"), std::string::npos);
}

TEST_F(LogTest, TimeStampsComeFromThePlatformClock)
{
    struct Case {
        VrakTime now;
        const char *stamp;
    } cases[] = {
        {{0, 0}, "[0:00:00.00] "},
        {{3723, 450000}, "[1:02:03.45] "},
        {{59, 999999}, "[0:00:59.99] "},
        {{360000, 50000}, "[100:00:00.05] "},
    };
    std::string log = path("lastlog.txt");
    vrak_log("VRAK_LOGFILE=%s", log.c_str());
    std::string expected = read_file(log);
    for (const Case &c : cases) {
        fake_now = c.now;
        vrak_log("tick\n");
        expected += std::string(c.stamp) + "tick\n";
    }
    close_log();
    EXPECT_EQ(read_file(log), expected);
}

TEST_F(LogTest, ErrorsAreLoggedAndRemembered)
{
    EXPECT_STREQ(vrak_last_error(), "Unknown");
    std::string log = path("lastlog.txt");
    vrak_log("VRAK_LOGFILE=%s", log.c_str());
    vrak_error("Can't create window!");
    EXPECT_STREQ(vrak_last_error(), "Can't create window!");
    close_log();
    EXPECT_NE(read_file(log).find("] Error: Can't create window!\n"), std::string::npos);
}

TEST_F(LogTest, LongMessagesAreWrittenWhole)
{
    std::string log = path("lastlog.txt");
    vrak_log("VRAK_LOGFILE=%s", log.c_str());
    std::string big(5000, 'z');
    vrak_log("%s\n", big.c_str());
    close_log();
    EXPECT_NE(read_file(log).find("] " + big + "\n"), std::string::npos);
}

TEST_F(LogTest, OptionsAreReadFromTheOptionString)
{
    enum Kind { BOOL, INT };
    struct Case {
        const char *options;
        Kind kind;
        const char *name;
        int default_value;
        int expected;
        bool unrecognized;
    } cases[] = {
        {"[threaded:yes]", BOOL, "threaded", 0, 1, false},
        {"[threaded:on]", BOOL, "threaded", 0, 1, false},
        {"[threaded:no]", BOOL, "threaded", 1, 0, false},
        {"[threaded:off]", BOOL, "threaded", 1, 0, false},
        {"[dinput:no][threaded:on]", BOOL, "threaded", 0, 1, false},
        {"junk [threaded:on] more", BOOL, "threaded", 0, 1, false},
        {"[threaded: yes]", BOOL, "threaded", 0, 0, true},
        {"[threaded:YES]", BOOL, "threaded", 1, 1, true},
        {"[threaded:yes", BOOL, "threaded", 0, 0, true},
        {"[xthreaded:on]", BOOL, "threaded", 0, 0, false},
        {"", BOOL, "dinput", 1, 1, false},
        {"[sound-rate: 44100]", INT, "sound-rate", 22050, 44100, false},
        {"[sound-rate:11025]", INT, "sound-rate", 22050, 11025, false},
        {"[sound-channels:8", INT, "sound-channels", 16, 8, false},
        {"[sound-mixahead:-5]", INT, "sound-mixahead", 125, -5, false},
        {"[sound-rate:99999999999999]", INT, "sound-rate", 22050, INT_MAX, false},
        {"[sound-rate:fast]", INT, "sound-rate", 22050, 22050, true},
        {"[sound-rate:]", INT, "sound-rate", 22050, 22050, true},
        {"[sound-rate:44100]", INT, "sound-channels", 16, 16, false},
    };
    std::string log = path("lastlog.txt");
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + c.name);
        setenv("VRAK_OPTIONS", c.options, 1);
        vrak_log_reset();
        vrak_log("VRAK_LOGFILE=%s", log.c_str());
        int got = c.kind == BOOL ? vrak_option_bool(c.name, c.default_value)
                                 : vrak_option_int(c.name, c.default_value);
        EXPECT_EQ(got, c.expected);
        close_log();
        std::string message = std::string("] unrecognized setting for ") + c.name + "\n";
        EXPECT_EQ(read_file(log).find(message) != std::string::npos, c.unrecognized);
    }
}

TEST_F(LogTest, OptionStringIsReadOnce)
{
    setenv("VRAK_OPTIONS", "[sound-rate:8000]", 1);
    EXPECT_EQ(vrak_option_int("sound-rate", 22050), 8000);
    setenv("VRAK_OPTIONS", "[sound-rate:16000]", 1);
    EXPECT_EQ(vrak_option_int("sound-rate", 22050), 8000);
    vrak_log_reset();
    EXPECT_EQ(vrak_option_int("sound-rate", 22050), 16000);
}
