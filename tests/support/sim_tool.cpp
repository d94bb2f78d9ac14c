#include "tests/support/sim_tool.h"

#include <filesystem>

#include "tests/support/temp_home.h"

void SimToolTest::SetUp()
{
    root = make_temp_dir();
    std::filesystem::create_directories(root + "/data");
    std::error_code ec;
    std::filesystem::copy_file(std::string(RUTTMOOR_BUILD_DIR) + "/zzzz.saf",
                               root + "/data/zzzz.saf", ec);
    ASSERT_FALSE(ec) << "the packed game data is needed: " << ec.message();
}

void SimToolTest::TearDown()
{
    std::filesystem::remove_all(root);
}

ProcessResult SimToolTest::run(const std::vector<std::string> &args, double timeout)
{
    return run_process(std::string(RUTTMOOR_BUILD_DIR) + "/ruttmoor-sim", args,
                       {"HOME=" + root, "XDG_DATA_HOME=" + root + "/xdg",
                        "QK_HOME=" + root + "/data", "VRAK_LOGFILE", "VRAK_LOGFILE_FLAGS"},
                       0, timeout);
}

std::string SimToolTest::script(const std::string &name, const std::string &text)
{
    std::string path = root + "/" + name;
    EXPECT_TRUE(write_bytes(path, text));
    return path;
}
