// Track and demo discovery over the data layer's list of file names.
#include "core/discovery.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/datafile.h"
#include "core/options.h"
#include "platform/vrak.h"

static std::vector<TrackEntry> tracks;
static std::vector<DemoEntry> demos;

const std::vector<TrackEntry> &track_list()
{
    return tracks;
}

const std::vector<DemoEntry> &demo_list()
{
    return demos;
}

static bool less_ignoring_case(const std::string &a, const std::string &b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](unsigned char x, unsigned char y) {
                                            return tolower(x) < tolower(y);
                                        });
}

static bool ends_with(const std::string &s, const char *suffix)
{
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// The first line of the track's "desc", up to CR, LF or the end of the file.
static std::string read_display_name(const std::string &directory)
{
    std::string name = "@" + directory + "/desc";
    DataFile *f = data_open(name.c_str(), "rb");
    if (!f)
        return directory;
    std::string line;
    for (int c; (c = data_getc(f)) != DATA_EOF && c != '\r' && c != '\n';)
        line += (char)c;
    data_close(f);
    return line;
}

void discover_tracks(std::vector<TrackEntry> *out)
{
    static const char *const markers[] = {"/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram",
                                          "/terrain.hf.gz.scram"};
    out->clear();
    for (const std::string &file : data_list_files()) {
        for (const char *marker : markers) {
            if (!ends_with(file, marker))
                continue;
            std::string directory = file.substr(0, file.rfind('/'));
            // The name list may hold both a plain and a compressed terrain.
            bool known = false;
            for (const TrackEntry &t : *out)
                known = known || t.directory == directory;
            if (!known)
                out->push_back({directory, read_display_name(directory)});
            break;
        }
    }
    std::stable_sort(out->begin(), out->end(), [](const TrackEntry &a, const TrackEntry &b) {
        return less_ignoring_case(a.display_name, b.display_name);
    });
    if (startup_options().debug >= 1)
        for (const TrackEntry &t : *out)
            vrak_log("%.900s -> %.900s\n", t.directory.c_str(), t.display_name.c_str());
}

void discover_demos(std::vector<DemoEntry> *out)
{
    out->clear();
    for (const std::string &file : data_list_files()) {
        if (file.compare(0, 6, "demos/") != 0 || !ends_with(file, ".qkdemo"))
            continue;
        std::string base = file.substr(file.rfind('/') + 1);
        size_t dot = base.rfind('.');
        if (dot != std::string::npos)
            base.resize(dot);
        out->push_back({file, base});
    }
    if (startup_options().debug >= 1)
        for (const DemoEntry &d : *out)
            vrak_log("%.900s -> %.900s\n", d.path.c_str(), d.display_name.c_str());
}

bool discover_tracks_and_demos()
{
    discover_tracks(&tracks);
    discover_demos(&demos);
    return !tracks.empty();
}
