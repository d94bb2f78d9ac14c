// Open data files: opening a path with its backups and read fallbacks, opening
// data stored inside a container, and the read and write operations over the
// layered stream (stored bytes -> optional decipher -> optional inflate -> one
// byte of push-back).
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/datafile_local.h"

enum {
    BACKUP_COPY_BLOCK = 65536,
    BACKUP_MAX_NUMBER = 9999,
    BACKUP_MAX_PATH = 1000,     // longer paths get no backup and fail to open
    FALLBACK_MAX_PATH = 1023,   // read fallback names must be shorter than 1024
};

static bool path_exists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

static bool path_is_directory(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

bool datafile_is_read_mode(const char *mode)
{
    return mode[0] == 'r' && !strchr(mode, '+');
}

// The mode handed to stdio: the access letter, "+" and "b". Text and binary are
// the same here, and anything else the caller wrote is dropped.
static void stdio_mode(const char *mode, char out[4])
{
    int n = 0;
    out[n++] = mode[0];
    if (strchr(mode, '+'))
        out[n++] = '+';
    out[n++] = 'b';
    out[n] = 0;
}

void datafile_make_dirs(const std::string &path)
{
    for (size_t i = 1; i < path.size(); i++) {
        if (path[i] != '/')
            continue;
        std::string prefix = path.substr(0, i);
        if (path_is_directory(prefix))
            continue;
        std::error_code ec;
        std::filesystem::create_directory(prefix, ec);
    }
}

// Copies the file to the first free "%s.~%d~". A partial copy is removed, so a
// backup on disk is always whole.
static bool make_backup(const std::string &path)
{
    char backup[BACKUP_MAX_PATH + 32];
    int n = 1;
    for (; n <= BACKUP_MAX_NUMBER; n++) {
        snprintf(backup, sizeof backup, "%s.~%d~", path.c_str(), n);
        if (!path_exists(backup))
            break;
    }
    if (n > BACKUP_MAX_NUMBER)
        return false;

    FILE *in = fopen(path.c_str(), "rb");
    if (!in)
        return false;
    FILE *out = fopen(backup, "wb");
    if (!out) {
        fclose(in);
        return false;
    }
    std::vector<unsigned char> block(BACKUP_COPY_BLOCK);
    bool ok = true;
    for (;;) {
        size_t got = fread(block.data(), 1, block.size(), in);
        if (got && fwrite(block.data(), 1, got, out) != got) {
            ok = false;
            break;
        }
        if (got < block.size()) {
            ok = !ferror(in);
            break;
        }
    }
    fclose(in);
    if (fclose(out) != 0)
        ok = false;
    if (!ok)
        remove(backup);
    return ok;
}

// Stored bytes of the data, deciphered, never past the member's end.
static size_t read_stored(DataFile *file, unsigned char *buffer, size_t n)
{
    if (file->limit >= 0) {
        long long left = file->limit - file->stored_pos;
        if (left <= 0)
            return 0;
        if ((long long)n > left)
            n = (size_t)left;
    }
    size_t got = fread(buffer, 1, n, file->stream);
    if (file->scram)
        scram_apply(file->scram, buffer, got);
    file->stored_pos += got;
    return got;
}

static int stored_byte(DataFile *file)
{
    unsigned char c;
    return read_stored(file, &c, 1) == 1 ? c : -1;
}

static bool skip_stored(DataFile *file, long n)
{
    for (long i = 0; i < n; i++) {
        if (stored_byte(file) < 0)
            return false;
    }
    return true;
}

static bool skip_zero_terminated(DataFile *file)
{
    for (;;) {
        int c = stored_byte(file);
        if (c < 0)
            return false;
        if (c == 0)
            return true;
    }
}

// The gzip member header (RFC 1952), parsed here so that the deflate data can be
// read straight from any container at any offset:
//   ID1 ID2        0x1F 0x8B
//   CM             8 (deflate)
//   FLG            FHCRC 2, FEXTRA 4, FNAME 8, FCOMMENT 16; 32 and above are refused
//   MTIME XFL OS   6 bytes, skipped
//   FEXTRA         2-byte little-endian length, then that many bytes
//   FNAME          zero-terminated original file name
//   FCOMMENT       zero-terminated comment
//   FHCRC          2-byte header CRC (not checked)
// Raw deflate data follows; the CRC32/ISIZE trailer is not checked.
static bool start_gzip(DataFile *file)
{
    int id1 = stored_byte(file);
    int id2 = stored_byte(file);
    int method = stored_byte(file);
    int flags = stored_byte(file);
    if (id1 != 0x1f || id2 != 0x8b || method != 8 || flags < 0 || flags >= 32)
        return false;
    if (!skip_stored(file, 6))
        return false;
    if (flags & 4) {
        int lo = stored_byte(file);
        int hi = stored_byte(file);
        if (lo < 0 || hi < 0 || !skip_stored(file, lo | hi << 8))
            return false;
    }
    if ((flags & 8) && !skip_zero_terminated(file))
        return false;
    if ((flags & 16) && !skip_zero_terminated(file))
        return false;
    if ((flags & 2) && !skip_stored(file, 2))
        return false;

    GzipState *gzip = new GzipState;
    memset(&gzip->zs, 0, sizeof gzip->zs);
    gzip->out_pos = gzip->out_len = 0;
    gzip->input_done = gzip->finished = false;
    if (inflateInit2(&gzip->zs, -15) != Z_OK) {
        delete gzip;
        return false;
    }
    file->gzip = gzip;
    return true;
}

// Makes the next block of output. A read error or bad deflate data ends the data
// where it happened.
static bool gzip_fill(DataFile *file)
{
    GzipState *gzip = file->gzip;
    while (!gzip->finished) {
        if (gzip->zs.avail_in == 0 && !gzip->input_done) {
            size_t got = read_stored(file, gzip->input, sizeof gzip->input);
            if (got == 0)
                gzip->input_done = true;
            gzip->zs.next_in = gzip->input;
            gzip->zs.avail_in = (uInt)got;
        }
        gzip->zs.next_out = gzip->output;
        gzip->zs.avail_out = sizeof gzip->output;
        int ret = inflate(&gzip->zs, Z_NO_FLUSH);
        size_t made = sizeof gzip->output - gzip->zs.avail_out;
        if (ret == Z_STREAM_END)
            gzip->finished = true;
        else if (ret != Z_OK && ret != Z_BUF_ERROR)
            gzip->finished = true;
        else if (made == 0 && gzip->zs.avail_in == 0 && gzip->input_done)
            gzip->finished = true;      // truncated data
        if (made) {
            gzip->out_pos = 0;
            gzip->out_len = made;
            return true;
        }
    }
    return false;
}

static DataFile *attach(FILE *stream, long long base, long long limit, bool writable,
                        bool gzip, bool enciphered)
{
    DataFile *file = new DataFile;
    file->stream = stream;
    file->base = base;
    file->limit = limit;
    file->stored_pos = 0;
    file->position = 0;
    file->pushback = -1;
    file->writable = writable;
    file->last_was_write = false;
    file->scram = nullptr;
    file->gzip = nullptr;
    if (enciphered) {
        file->scram = new ScramStream;
        scram_begin(file->scram);
    }
    if (gzip && !start_gzip(file)) {
        data_close(file);
        return nullptr;
    }
    return file;
}

DataFile *datafile_open_path(const std::string &path, const char *mode)
{
    bool backups = mode[0] == '~';
    if (backups)
        mode++;
    if (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')
        return nullptr;
    bool read_only = datafile_is_read_mode(mode);
    if (path.empty() || path_is_directory(path))
        return nullptr;
    if (!read_only)
        datafile_make_dirs(path);

    if (backups) {
        if (path.size() > BACKUP_MAX_PATH)
            return nullptr;
        if (path_exists(path) && !make_backup(path))
            return nullptr;
    }

    char smode[4];
    stdio_mode(mode, smode);
    FILE *stream = fopen(path.c_str(), smode);
    if (stream)
        return attach(stream, 0, -1, !read_only, false, false);
    if (!read_only)
        return nullptr;

    static const struct {
        const char *suffix;
        bool gzip, enciphered;
    } fallbacks[] = {
        {".gz", true, false},
        {".scram", false, true},
        {".gz.scram", true, true},
    };
    for (const auto &fallback : fallbacks) {
        std::string candidate = path + fallback.suffix;
        if (candidate.size() > FALLBACK_MAX_PATH || path_is_directory(candidate))
            continue;
        stream = fopen(candidate.c_str(), "rb");
        if (stream)
            return attach(stream, 0, -1, false, fallback.gzip, fallback.enciphered);
    }
    return nullptr;
}

DataFile *datafile_open_stored(const std::string &container, long long offset, long long size,
                               bool gzip, bool enciphered)
{
    if (offset < 0 || size < 0)
        return nullptr;
    FILE *stream = fopen(container.c_str(), "rb");
    if (!stream)
        return nullptr;
    if (fseek(stream, (long)offset, SEEK_SET) != 0) {
        fclose(stream);
        return nullptr;
    }
    return attach(stream, offset, size, false, gzip, enciphered);
}

void data_close(DataFile *file)
{
    if (!file)
        return;
    if (file->gzip) {
        inflateEnd(&file->gzip->zs);
        delete file->gzip;
    }
    delete file->scram;
    if (file->stream)
        fclose(file->stream);
    delete file;
}

// stdio wants a positioning call between reading and writing an update stream.
static void switch_to_reading(DataFile *file)
{
    if (file->last_was_write) {
        fflush(file->stream);
        file->last_was_write = false;
    }
}

static int next_byte(DataFile *file)
{
    if (file->gzip) {
        if (file->gzip->out_pos == file->gzip->out_len && !gzip_fill(file))
            return DATA_EOF;
        return file->gzip->output[file->gzip->out_pos++];
    }
    if (file->limit >= 0 && file->stored_pos >= file->limit)
        return DATA_EOF;
    switch_to_reading(file);
    int c = getc(file->stream);
    if (c == EOF)
        return DATA_EOF;
    file->stored_pos++;
    if (file->scram) {
        uint8_t byte = (uint8_t)c;
        scram_apply(file->scram, &byte, 1);
        c = byte;
    }
    return c;
}

size_t data_read(DataFile *file, void *buffer, size_t n)
{
    if (!file || n == 0)
        return 0;
    unsigned char *out = (unsigned char *)buffer;
    size_t done = 0;
    if (file->pushback >= 0) {
        out[done++] = (unsigned char)file->pushback;
        file->pushback = -1;
    }
    if (file->gzip) {
        GzipState *gzip = file->gzip;
        while (done < n) {
            if (gzip->out_pos == gzip->out_len && !gzip_fill(file))
                break;
            size_t take = gzip->out_len - gzip->out_pos;
            if (take > n - done)
                take = n - done;
            memcpy(out + done, gzip->output + gzip->out_pos, take);
            gzip->out_pos += take;
            done += take;
        }
    } else if (done < n) {
        switch_to_reading(file);
        done += read_stored(file, out + done, n - done);
    }
    file->position += done;
    return done;
}

int data_getc(DataFile *file)
{
    if (!file)
        return DATA_EOF;
    int c;
    if (file->pushback >= 0) {
        c = file->pushback;
        file->pushback = -1;
    } else {
        c = next_byte(file);
    }
    if (c != DATA_EOF)
        file->position++;
    return c;
}

int data_peekc(DataFile *file)
{
    if (!file)
        return DATA_EOF;
    if (file->pushback < 0)
        file->pushback = next_byte(file);
    return file->pushback;
}

char *data_gets(DataFile *file, char *buffer, int n)
{
    if (!file || n <= 0)
        return nullptr;
    int len = 0;
    while (len < n - 1) {
        int c = data_getc(file);
        if (c == DATA_EOF) {
            if (len == 0)
                return nullptr;
            break;
        }
        buffer[len++] = (char)c;
        if (c == '\n')
            break;
    }
    buffer[len] = 0;
    return buffer;
}

bool data_seek(DataFile *file, long offset)
{
    if (!file || file->gzip || file->scram || offset < 0)
        return false;
    if (file->limit >= 0 && offset >= file->limit)
        return false;
    if (fseek(file->stream, (long)(file->base + offset), SEEK_SET) != 0)
        return false;
    file->stored_pos = offset;
    file->position = offset;
    file->pushback = -1;
    file->last_was_write = false;
    return true;
}

// A byte peeked but not taken is still in the file: step back over it so that the
// write lands where the caller's position says.
static bool prepare_write(DataFile *file)
{
    if (!file || !file->writable)
        return false;
    if (file->pushback >= 0) {
        fseek(file->stream, -1, SEEK_CUR);
        file->stored_pos--;
        file->pushback = -1;
    } else if (!file->last_was_write) {
        fseek(file->stream, 0, SEEK_CUR);
    }
    file->last_was_write = true;
    return true;
}

int data_putc(DataFile *file, int c)
{
    if (!prepare_write(file))
        return DATA_EOF;
    return fputc(c, file->stream) == EOF ? (int)DATA_EOF : (unsigned char)c;
}

bool data_puts(DataFile *file, const char *text)
{
    if (!prepare_write(file))
        return false;
    return fputs(text, file->stream) >= 0;
}

int data_printf(DataFile *file, const char *format, ...)
{
    if (!prepare_write(file))
        return -1;
    va_list args;
    va_start(args, format);
    int n = vfprintf(file->stream, format, args);
    va_end(args);
    return n;
}

size_t data_write(DataFile *file, const void *bytes, size_t n)
{
    if (!prepare_write(file))
        return 0;
    return fwrite(bytes, 1, n, file->stream);
}

bool data_flush(DataFile *file)
{
    if (!file)
        return false;
    if (!file->writable)
        return true;
    return fflush(file->stream) == 0 && !ferror(file->stream);
}
