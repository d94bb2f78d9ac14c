#include "tests/support/log_capture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/vrak.h"
#include "tests/support/process.h"

LogCapture::LogCapture()
{
    const char *value = getenv("VRAK_LOGFILE");
    had_env = value != nullptr;
    saved_env = value ? value : "";
    dir = make_temp_dir();
    path = dir + "/log.txt";
    setenv("VRAK_LOGFILE", path.c_str(), 1);
    vrak_log_reset();
}

LogCapture::~LogCapture()
{
    vrak_log(nullptr);
    if (had_env)
        setenv("VRAK_LOGFILE", saved_env.c_str(), 1);
    else
        unsetenv("VRAK_LOGFILE");
    vrak_log_reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::string LogCapture::text() const
{
    std::istringstream in(read_file(path));
    std::string line, out;
    while (std::getline(in, line)) {
        size_t stamp = line.find("] ");
        if (line.size() > 0 && line[0] == '[' && stamp != std::string::npos)
            line.erase(0, stamp + 2);
        if (line.compare(0, 9, "Logfile \"") == 0 || line == "VRAK 0.31")
            continue;
        out += line + "\n";
    }
    return out.substr(std::min(skip, out.size()));
}

bool LogCapture::contains(const std::string &needle) const
{
    return text().find(needle) != std::string::npos;
}

void LogCapture::clear()
{
    skip += text().size();
}
