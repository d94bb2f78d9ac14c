// Private to the data-file layer (datafile*.cpp): the open-file record, the index
// entry and the helpers the layer's files share.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

#include "core/datafile.h"
#include "core/scram.h"

enum {
    GZIP_INPUT_SIZE = 16384,    // compressed bytes read from the container at a time
    GZIP_OUTPUT_SIZE = 1024,    // decompressed bytes made at a time
};

// The inflate state of a gzip file: compressed input is read in blocks, never past
// the member's end; output is made a small block at a time and handed out from
// there.
struct GzipState {
    z_stream zs;
    unsigned char input[GZIP_INPUT_SIZE];
    unsigned char output[GZIP_OUTPUT_SIZE];
    size_t out_pos, out_len;
    bool input_done;            // the container has no more compressed bytes
    bool finished;              // end of the deflate data, or an error ended it early
};

struct DataFile {
    FILE *stream;
    long long base;             // offset of the data in the stream (archive members)
    long long limit;            // bytes of stored data, or -1 for no limit
    long long stored_pos;       // stored bytes taken from the stream so far
    long long position;         // bytes delivered to the caller
    int pushback;               // one byte handed back by data_peekc, or -1
    bool writable;              // a loose file opened with a write or update mode
    bool last_was_write;        // the stream's last operation was a write
    ScramStream *scram;         // deciphering stream, or null
    GzipState *gzip;            // decompressor, or null
};

struct IndexEntry {
    std::string container;      // the real file: the loose file itself or the archive
    std::string name;           // relative data name, "/"-separated
    long long offset;           // where the data starts inside the container
    long long size;
    int source;                 // base index, or base count + archive ordinal
};

// "\\" becomes "/" and runs of "/" become one.
std::string datafile_normalize(const std::string &path);
// Byte comparison with "A"-"Z" taken as "a"-"z".
int datafile_compare_names(const std::string &a, const std::string &b);
// Creates every missing directory on the path (each prefix ending at a "/").
void datafile_make_dirs(const std::string &path);
// Opens a path (no "@") with backups, directory creation and the read fallbacks.
DataFile *datafile_open_path(const std::string &path, const char *mode);
// Opens stored data inside a container read-only, with its gzip and cipher layers.
DataFile *datafile_open_stored(const std::string &container, long long offset, long long size,
                               bool gzip, bool enciphered);
bool datafile_is_read_mode(const char *mode);
// Forgets the fixed-file flag (data_reset).
void datafile_check_reset();
// The base directories, home (when known) first; each ends in "/".
const std::vector<std::string> &datafile_bases();
