// safpack: makes the game-data files the program reads.
//
//   safpack [--exclude NAME]... OUT.saf ROOTDIR
//       packs every file under ROOTDIR into a ".saf" archive; member names are the
//       paths relative to ROOTDIR with "/" separators, in byte order, so the same
//       tree always gives the same archive. NAME is a relative path left out.
//   safpack --scram IN OUT
//       writes OUT, the ".scram" enciphered copy of IN.
//   safpack --digests OUT.h SAF ROOTDIR
//       writes a header defining GAME_DATA_DIGEST (RIPEMD-160 of the first 1 MiB
//       of SAF, as the game-data check computes it) and FIXED_FILE_DIGEST
//       (RIPEMD-160 over the fixed shape files found in ROOTDIR, missing ones
//       skipped, in the game's order). The shape files are hashed as stored, so
//       they must be kept uncompressed and not enciphered in ROOTDIR.
//
// Every output is written to a temporary file beside it and renamed into place,
// so an interrupted run never leaves a half-written file under the real name.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <nettle/ripemd160.h>

#include "core/datafile.h"
#include "core/scram.h"

enum {
    ARCHIVE_LINE_MAX = 1023,
    GAME_DATA_DIGEST_BYTES = 1048576,
};

static bool read_whole(const std::string &path, std::vector<uint8_t> *out)
{
    FILE *in = fopen(path.c_str(), "rb");
    if (!in)
        return false;
    out->clear();
    uint8_t block[65536];
    size_t got;
    while ((got = fread(block, 1, sizeof block, in)) > 0)
        out->insert(out->end(), block, block + got);
    bool ok = !ferror(in);
    fclose(in);
    return ok;
}

// Writes the bytes to OUT through a temporary file.
static bool write_replacing(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::string temp = path + ".tmp";
    FILE *out = fopen(temp.c_str(), "wb");
    if (!out) {
        fprintf(stderr, "safpack: can't create '%.900s'\n", temp.c_str());
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = fclose(out) == 0 && ok;
    std::error_code ec;
    if (ok)
        std::filesystem::rename(temp, path, ec);
    if (!ok || ec) {
        fprintf(stderr, "safpack: can't write '%.900s'\n", path.c_str());
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

static void collect(const std::filesystem::path &root, std::vector<std::string> *names)
{
    std::error_code ec;
    auto options = std::filesystem::directory_options::skip_permission_denied;
    std::filesystem::recursive_directory_iterator it(root, options, ec);
    for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code entry_ec;
        if (!it->is_regular_file(entry_ec))
            continue;
        names->push_back(it->path().lexically_relative(root).generic_string());
    }
}

static int pack(const std::string &out_path, const std::string &root,
                const std::vector<std::string> &excluded)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) {
        fprintf(stderr, "safpack: '%.900s' is not a folder\n", root.c_str());
        return 1;
    }
    std::vector<std::string> names;
    collect(root, &names);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string &name) {
                                   return std::find(excluded.begin(), excluded.end(), name) !=
                                          excluded.end();
                               }),
                names.end());
    std::sort(names.begin(), names.end());

    std::string header;
    std::vector<uint8_t> body;
    for (const std::string &name : names) {
        std::vector<uint8_t> bytes;
        if (!read_whole(root + "/" + name, &bytes)) {
            fprintf(stderr, "safpack: can't read '%.900s'\n", name.c_str());
            return 1;
        }
        std::string line = std::to_string(bytes.size()) + " " + name + "\n";
        if (name.find('\n') != std::string::npos || line.size() > ARCHIVE_LINE_MAX) {
            fprintf(stderr, "safpack: name can't be stored: '%.900s'\n", name.c_str());
            return 1;
        }
        header += line;
        body.insert(body.end(), bytes.begin(), bytes.end());
    }
    header += "-\n";
    std::vector<uint8_t> archive(header.begin(), header.end());
    archive.insert(archive.end(), body.begin(), body.end());
    return write_replacing(out_path, archive) ? 0 : 1;
}

static int scram(const std::string &in_path, const std::string &out_path)
{
    std::vector<uint8_t> bytes;
    if (!read_whole(in_path, &bytes)) {
        fprintf(stderr, "safpack: can't read '%.900s'\n", in_path.c_str());
        return 1;
    }
    scram_buffer(bytes.data(), bytes.size());
    return write_replacing(out_path, bytes) ? 0 : 1;
}

static std::string hex_digest(ripemd160_ctx *ctx)
{
    uint8_t digest[RIPEMD160_DIGEST_SIZE];
    ripemd160_digest(ctx, sizeof digest, digest);
    std::string hex;
    char pair[3];
    for (uint8_t byte : digest) {
        snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

static int digests(const std::string &out_path, const std::string &archive_path,
                   const std::string &root)
{
    std::vector<uint8_t> bytes;
    if (!read_whole(archive_path, &bytes)) {
        fprintf(stderr, "safpack: can't read '%.900s'\n", archive_path.c_str());
        return 1;
    }
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    ripemd160_update(&ctx, std::min(bytes.size(), (size_t)GAME_DATA_DIGEST_BYTES), bytes.data());
    std::string game_data = hex_digest(&ctx);

    ripemd160_init(&ctx);
    for (const char *name : data_fixed_file_names) {
        if (read_whole(root + "/" + (name + 1), &bytes))
            ripemd160_update(&ctx, bytes.size(), bytes.data());
    }
    std::string fixed = hex_digest(&ctx);

    std::string text = "// Made by safpack --digests from the packed game data; do not edit.\n"
                       "#pragma once\n\n"
                       "// RIPEMD-160 of the first 1 MiB of zzzz.saf.\n"
                       "inline constexpr char GAME_DATA_DIGEST[] = \"" + game_data + "\";\n"
                       "// RIPEMD-160 over the fixed shape files, in the game's order.\n"
                       "inline constexpr char FIXED_FILE_DIGEST[] = \"" + fixed + "\";\n";
    return write_replacing(out_path, std::vector<uint8_t>(text.begin(), text.end())) ? 0 : 1;
}

static int usage()
{
    fprintf(stderr, "usage: safpack [--exclude NAME]... OUT.saf ROOTDIR\n"
                    "       safpack --scram IN OUT\n"
                    "       safpack --digests OUT.h SAF ROOTDIR\n");
    return 1;
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--scram") == 0)
        return scram(argv[2], argv[3]);
    if (argc == 5 && strcmp(argv[1], "--digests") == 0)
        return digests(argv[2], argv[3], argv[4]);

    std::vector<std::string> excluded;
    int i = 1;
    while (i + 1 < argc && strcmp(argv[i], "--exclude") == 0) {
        excluded.push_back(argv[i + 1]);
        i += 2;
    }
    if (argc - i != 2 || argv[i][0] == '-')
        return usage();
    return pack(argv[i], argv[i + 1], excluded);
}
