// The temporary home for data-file tests and the archive builder.
#include "tests/support/temp_home.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/vrak.h"
#include "tests/support/process.h"

static const char *const env_names[3] = {"HOME", "XDG_DATA_HOME", "QK_HOME"};

void TempHomeTest::SetUp()
{
    root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    home = root + "/xdg/Ruttmoor/";
    data = root + "/data/";
    std::filesystem::create_directories(data);
    for (int i = 0; i < 3; i++) {
        const char *value = getenv(env_names[i]);
        had_env[i] = value != nullptr;
        saved_env[i] = value ? value : "";
    }
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
    setenv("QK_HOME", (root + "/data").c_str(), 1);
    data_reset();
}

void TempHomeTest::TearDown()
{
    data_reset();
    for (int i = 0; i < 3; i++) {
        if (had_env[i])
            setenv(env_names[i], saved_env[i].c_str(), 1);
        else
            unsetenv(env_names[i]);
    }
    std::error_code ec;
    if (!root.empty())
        std::filesystem::remove_all(root, ec);
}

bool write_bytes(const std::string &path, const std::string &bytes)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

bool file_exists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::string read_rest(DataFile *file)
{
    std::string out;
    char block[4096];
    size_t got;
    while ((got = data_read(file, block, sizeof block)) > 0)
        out.append(block, got);
    return out;
}

std::string read_data(const char *name)
{
    DataFile *file = data_open(name, "rb");
    if (!file)
        return "<missing>";
    std::string out = read_rest(file);
    data_close(file);
    return out;
}

std::string make_saf(const std::vector<SafMember> &members)
{
    std::string header, body;
    for (const SafMember &m : members) {
        header += std::to_string(m.bytes.size()) + " " + m.name + "\n";
        body += m.bytes;
    }
    return header + "-\n" + body;
}
