// safpack: makes the game-data files the program reads.
//
//   safpack [--exclude NAME]... [--gzip-over BYTES] [--plain PATTERN]... OUT.saf ROOTDIR
//       packs every file under ROOTDIR into a ".saf" archive; member names are the
//       paths relative to ROOTDIR with "/" separators, in byte order, so the same
//       tree always gives the same archive. NAME is a relative path left out.
//       With --gzip-over, a file larger than BYTES is stored compressed as the
//       member "<name>.gz" (which the game reads as <name>) when that is smaller.
//       Files whose base name matches a PATTERN stay plain: "*.ext" matches by
//       ending, anything else the whole base name. Files the game finds by listing
//       names ("*.series", "*.qkdemo") or hashes as stored ("*.shp") must stay
//       plain; "*.shp" and "desc" always do.
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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <nettle/ripemd160.h>
#include <zlib.h>

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

// A gzip member (RFC 1952) with a fixed header: no name, no time stamp (0),
// maximum compression (2), Unix (3); then raw deflate at level 9 and the CRC-32
// and length trailer. The same bytes in give the same bytes out.
static bool gzip_bytes(const std::vector<uint8_t> &in, std::vector<uint8_t> *out)
{
    static const uint8_t header[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};
    out->assign(header, header + sizeof header);
    z_stream zs = {};
    if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    size_t start = out->size();
    out->resize(start + deflateBound(&zs, (uLong)in.size()));
    zs.next_in = (Bytef *)in.data();
    zs.avail_in = (uInt)in.size();
    zs.next_out = out->data() + start;
    zs.avail_out = (uInt)(out->size() - start);
    int ret = deflate(&zs, Z_FINISH);
    out->resize(start + zs.total_out);
    deflateEnd(&zs);
    if (ret != Z_STREAM_END)
        return false;
    uint32_t crc = (uint32_t)crc32(crc32(0, nullptr, 0), in.data(), (uInt)in.size());
    uint32_t size = (uint32_t)in.size();
    for (uint32_t word : {crc, size})
        for (int k = 0; k < 4; k++)
            out->push_back((uint8_t)(word >> (8 * k)));
    return true;
}

static bool ends_with(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

static bool keep_plain(const std::string &name, const std::vector<std::string> &patterns)
{
    std::string base = name.substr(name.rfind('/') + 1);
    if (ends_with(base, ".shp") || base == "desc" || ends_with(base, ".gz"))
        return true;
    for (const std::string &p : patterns) {
        if (p.size() > 1 && p[0] == '*' ? ends_with(base, p.substr(1)) : base == p)
            return true;
    }
    return false;
}

struct PackOptions {
    std::vector<std::string> excluded;
    std::vector<std::string> plain;     // base-name patterns never compressed
    long long gzip_over;                // -1: compress nothing
};

static int pack(const std::string &out_path, const std::string &root, const PackOptions &options)
{
    const std::vector<std::string> &excluded = options.excluded;
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
        std::string member = name;
        if (options.gzip_over >= 0 && (long long)bytes.size() > options.gzip_over &&
            !keep_plain(name, options.plain)) {
            std::vector<uint8_t> packed;
            if (!gzip_bytes(bytes, &packed)) {
                fprintf(stderr, "safpack: can't compress '%.900s'\n", name.c_str());
                return 1;
            }
            if (packed.size() < bytes.size()) {
                // Both forms in one archive would leave the game reading the plain one.
                if (std::binary_search(names.begin(), names.end(), name + ".gz")) {
                    fprintf(stderr, "safpack: both '%.900s' and its .gz form exist\n",
                            name.c_str());
                    return 1;
                }
                member = name + ".gz";
                bytes.swap(packed);
            }
        }
        std::string line = std::to_string(bytes.size()) + " " + member + "\n";
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
    fprintf(stderr, "usage: safpack [--exclude NAME]... [--gzip-over BYTES] [--plain PATTERN]..."
                    " OUT.saf ROOTDIR\n"
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

    PackOptions options;
    options.gzip_over = -1;
    int i = 1;
    for (; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--exclude") == 0) {
            options.excluded.push_back(argv[i + 1]);
        } else if (strcmp(argv[i], "--plain") == 0) {
            options.plain.push_back(argv[i + 1]);
        } else if (strcmp(argv[i], "--gzip-over") == 0) {
            char *end = nullptr;
            options.gzip_over = strtoll(argv[i + 1], &end, 10);
            if (end == argv[i + 1] || *end || options.gzip_over < 0)
                return usage();
        } else {
            break;
        }
    }
    if (argc - i != 2 || argv[i][0] == '-')
        return usage();
    return pack(argv[i], argv[i + 1], options);
}
