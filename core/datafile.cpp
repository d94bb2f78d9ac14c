// The data-file layer's search side: the base directories, the index of every
// data file (loose files and ".saf" archive members), the name list, and opening
// a name by searching them. The open streams live in datafile_stream.cpp, the
// formatted reader in datafile_scan.cpp, the start-up checks in datafile_check.cpp.
//
// Search order for a name that begins with "@":
//   1. base + name for each base directory (home first, then the game data), with
//      the read fallbacks ".gz", ".scram", ".gz.scram" of each;
//   2. reading only: the index, for name, name.gz, name.scram and name.gz.scram,
//      letter case ignored; the lowest source wins, a tie goes to the earlier
//      form. Loose files have source = base index, archive members come after all
//      bases, archives in name order, so "zzzz.saf" (the base game) yields to
//      every other archive.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/datafile_local.h"
#include "platform/vrak.h"

enum {
    ARCHIVE_LINE_MAX = 1023,    // header line length including its "\n"
    JOINED_PATH_MAX = 511,      // base directory + "@" name
    WALK_DEPTH_MAX = 64,
};

struct DataLayer {
    bool bases_built;
    bool has_home;                  // bases[0] is the home directory
    std::vector<std::string> bases; // each ends in "/"
    bool index_built;
    std::vector<IndexEntry> index;  // sorted by name (letter case ignored), then source
    std::vector<std::string> names;
};

static DataLayer layer;

std::string datafile_normalize(const std::string &path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\')
            c = '/';
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    return out;
}

static int lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

int datafile_compare_names(const std::string &a, const std::string &b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++) {
        int d = lower((unsigned char)a[i]) - lower((unsigned char)b[i]);
        if (d)
            return d;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

static void build_bases()
{
    if (layer.bases_built)
        return;
    layer.bases_built = true;
    std::string dir;
    if (vrak_user_data_dir(&dir) && !dir.empty()) {
        layer.bases.push_back(datafile_normalize(dir + "/Ruttmoor/"));
        layer.has_home = true;
    }
    // An empty QK_HOME would make the whole file system the game data.
    const char *qk_home = getenv("QK_HOME");
    if (qk_home && qk_home[0])
        layer.bases.push_back(datafile_normalize(std::string(qk_home) + "/"));
    else if (vrak_exe_dir(&dir) && !dir.empty())
        layer.bases.push_back(datafile_normalize(dir + "/"));
}

// Linked directories are not followed: a link back up the tree would never end.
static void walk(const std::string &base, const std::string &relative, int source, int depth)
{
    std::error_code ec;
    std::filesystem::directory_iterator it(base + relative, ec);
    if (ec)
        return;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const std::filesystem::directory_entry &entry = *it;
        std::string name = relative + entry.path().filename().string();
        std::error_code entry_ec;
        if (entry.is_directory(entry_ec)) {
            if (!entry.is_symlink(entry_ec) && depth < WALK_DEPTH_MAX)
                walk(base, name + "/", source, depth + 1);
            continue;
        }
        uintmax_t size = entry.file_size(entry_ec);
        if (entry_ec)
            continue;
        layer.index.push_back({base + name, name, 0, (long long)size, source});
    }
}

static bool parse_member_size(const char *line, int len, int *pos, long long *size)
{
    int i = 0;
    while (i < len && (line[i] == ' ' || line[i] == '\t'))
        i++;
    bool negative = false;
    if (i < len && (line[i] == '+' || line[i] == '-'))
        negative = line[i++] == '-';
    int digits = 0;
    long long value = 0;
    while (i < len && line[i] >= '0' && line[i] <= '9') {
        if (++digits > 18)
            return false;
        value = value * 10 + (line[i++] - '0');
    }
    // A negative size would put the following members before this one.
    if (digits == 0 || (negative && value != 0))
        return false;
    *pos = i;
    *size = value;
    return true;
}

// The ".saf" archive: a text header, then the members' bytes back to back.
//   header line   size, one separator byte (a space), the member's data name, "\n";
//                 the size is decimal after optional blanks and sign; the whole line
//                 is at most 1023 bytes including its "\n"
//   "-\n"         ends the header
//   data          the first member starts right after "-\n", each following one
//                 where the previous one ends; no padding
// A line without "\n", a line without a size (or a negative one), or the end of the
// file before "-\n" makes the archive invalid and none of its members are listed.
// Sizes that run past the end of the file are kept: reading such a member simply
// ends at the end of the file.
static void read_archive(const std::string &container, int source)
{
    FILE *in = fopen(container.c_str(), "rb");
    if (!in)
        return;
    size_t first = layer.index.size();
    long long header_length = 0;
    bool valid = false;
    char line[ARCHIVE_LINE_MAX];
    for (;;) {
        int len = 0;
        bool ended = false;
        while (len < ARCHIVE_LINE_MAX) {
            int c = getc(in);
            if (c == EOF)
                break;
            line[len++] = (char)c;
            if (c == '\n') {
                ended = true;
                break;
            }
        }
        if (!ended)
            break;
        header_length += len;
        if (len == 2 && line[0] == '-') {
            valid = true;
            break;
        }
        int pos;
        long long size;
        if (!parse_member_size(line, len - 1, &pos, &size) || pos >= len - 1)
            break;
        std::string name = datafile_normalize(std::string(line + pos + 1, len - 1 - (pos + 1)));
        layer.index.push_back({container, name, 0, size, source});
    }
    fclose(in);

    long long offset = header_length;
    for (size_t i = first; valid && i < layer.index.size(); i++) {
        layer.index[i].offset = offset;
        offset += layer.index[i].size;
        if (offset > (1LL << 60))
            valid = false;
    }
    if (!valid)
        layer.index.resize(first);
}

static void sort_index()
{
    std::stable_sort(layer.index.begin(), layer.index.end(),
                     [](const IndexEntry &a, const IndexEntry &b) {
                         int d = datafile_compare_names(a.name, b.name);
                         return d ? d < 0 : a.source < b.source;
                     });
}

static bool is_archive_name(const std::string &name)
{
    return name.size() >= 5 && datafile_compare_names(name.substr(name.size() - 4), ".saf") == 0;
}

static void build_index()
{
    if (layer.index_built)
        return;
    build_bases();
    layer.index_built = true;
    for (size_t b = 0; b < layer.bases.size(); b++)
        walk(layer.bases[b], "", (int)b, 0);
    sort_index();

    size_t loose = layer.index.size();
    int ordinal = 0;
    for (size_t i = 0; i < loose; i++) {
        if (!is_archive_name(layer.index[i].name))
            continue;
        // Copied: reading the archive grows the index.
        std::string container = layer.index[i].container;
        read_archive(container, (int)layer.bases.size() + ordinal++);
    }
    sort_index();

    for (const IndexEntry &entry : layer.index) {
        if (layer.names.empty() || datafile_compare_names(layer.names.back(), entry.name) != 0)
            layer.names.push_back(entry.name);
    }
}

// The lowest-source entry of that name, letter case ignored.
static const IndexEntry *find_entry(const std::string &name)
{
    auto it = std::lower_bound(layer.index.begin(), layer.index.end(), name,
                               [](const IndexEntry &entry, const std::string &key) {
                                   return datafile_compare_names(entry.name, key) < 0;
                               });
    if (it == layer.index.end() || datafile_compare_names(it->name, name) != 0)
        return nullptr;
    return &*it;
}

DataFile *data_open(const char *name, const char *mode)
{
    if (!name || !mode)
        return nullptr;
    if (name[0] != '@')
        return datafile_open_path(name, mode);

    build_index();
    for (const std::string &base : layer.bases) {
        std::string path = base + (name + 1);
        if (path.size() > JOINED_PATH_MAX)
            path.resize(JOINED_PATH_MAX);
        DataFile *file = datafile_open_path(datafile_normalize(path), mode);
        if (file)
            return file;
    }
    if (!datafile_is_read_mode(mode))
        return nullptr;

    static const struct {
        const char *suffix;
        bool gzip, enciphered;
    } forms[] = {
        {"", false, false},
        {".gz", true, false},
        {".scram", false, true},
        {".gz.scram", true, true},
    };
    std::string key = datafile_normalize(name + 1);
    if (!key.empty() && key[0] == '/')
        key.erase(0, 1);
    const IndexEntry *best = nullptr;
    int best_form = 0;
    for (int f = 0; f < 4; f++) {
        const IndexEntry *entry = find_entry(key + forms[f].suffix);
        if (entry && (!best || entry->source < best->source)) {
            best = entry;
            best_form = f;
        }
    }
    if (!best)
        return nullptr;
    return datafile_open_stored(best->container, best->offset, best->size, forms[best_form].gzip,
                                forms[best_form].enciphered);
}

const std::vector<std::string> &data_list_files()
{
    build_index();
    return layer.names;
}

int data_index_count()
{
    build_index();
    return (int)layer.index.size();
}

std::string data_describe(int i)
{
    build_index();
    if (i < 0 || i >= (int)layer.index.size())
        return std::string();
    return layer.index[i].name + " -> " + layer.index[i].container;
}

const std::vector<std::string> &datafile_bases()
{
    build_bases();
    return layer.bases;
}

const char *home_dir()
{
    build_bases();
    return layer.has_home ? layer.bases[0].c_str() : nullptr;
}

// "@name" is the home directory's file; other names are paths.
static bool resolve_home_name(const char *name, std::string *path)
{
    if (name[0] != '@') {
        *path = name;
        return true;
    }
    const char *home = home_dir();
    if (!home)
        return false;
    *path = datafile_normalize(std::string(home) + (name + 1));
    return true;
}

// rename() replaces the target in one step, so the target is never removed before
// the new file is in place, and a missing source leaves the target alone.
bool data_rename(const char *old_name, const char *new_name)
{
    std::string from, to;
    if (!old_name || !new_name || !resolve_home_name(old_name, &from) ||
        !resolve_home_name(new_name, &to))
        return false;
    std::error_code ec;
    if (!std::filesystem::exists(from, ec))
        return false;
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return true;
    // An empty folder in the way is removed first; any other failure leaves the
    // target as it was, so a failed rename never loses the old file.
    if (!std::filesystem::is_directory(to, ec) || std::remove(to.c_str()) != 0)
        return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool data_remove(const char *name)
{
    std::string path;
    if (!name || !resolve_home_name(name, &path))
        return false;
    return std::remove(path.c_str()) == 0;
}

bool open_home_folder()
{
    const char *home = home_dir();
    if (!home)
        return false;
    datafile_make_dirs(home);
    return vrak_open_folder(home);
}

void data_reset()
{
    layer = DataLayer();
    datafile_check_reset();
}
