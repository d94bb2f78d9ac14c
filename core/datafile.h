// The data-file layer: every file the game touches is opened here. A name that
// begins with "@" is looked up in the base directories (home first, then the game
// data) and, for reading, inside ".saf" archives there; reading also accepts the
// ".gz", ".scram" and ".gz.scram" forms of a name.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

struct DataFile;

enum { DATA_EOF = -1 };

// Modes are fopen's ("rb", "wt", "r+", "a+", ...); a leading "~" writes with
// numbered backups "%s.~%d~" of the file it replaces. Null on failure.
DataFile *data_open(const char *name, const char *mode);
void data_close(DataFile *file);

size_t data_read(DataFile *file, void *buffer, size_t n);
int data_getc(DataFile *file);          // DATA_EOF at the end
int data_peekc(DataFile *file);
// One line including its "\n", at most n - 1 bytes; null at end of file.
char *data_gets(DataFile *file, char *buffer, int n);
// A scanf over the stream: widths, "*", h/l/ll/L, %d %i %o %x %f %s %c %n %% %[...].
// Returns the number of assignments (DATA_EOF when the input ends before the first
// conversion).
int data_scanf(DataFile *file, const char *format, ...) __attribute__((format(scanf, 2, 3)));
int data_vscanf(DataFile *file, const char *format, va_list args);
// "%d", or -2147483648 when no integer can be read.
int data_read_int(DataFile *file);
// Skips white space followed by lines that begin with "#", repeatedly.
void data_skip_comments(DataFile *file);
// Positions within the member; fails on gzip or enciphered files and at or beyond
// the member's length.
bool data_seek(DataFile *file, long offset);

int data_putc(DataFile *file, int c);
bool data_puts(DataFile *file, const char *text);
int data_printf(DataFile *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
size_t data_write(DataFile *file, const void *bytes, size_t n);
bool data_flush(DataFile *file);

// Every data name (case-insensitive duplicates removed), sorted. Built on first use.
const std::vector<std::string> &data_list_files();
// "@" names stand for the home directory; the target is removed first.
bool data_rename(const char *old_name, const char *new_name);
// Deletes a file ("@" names stand for the home directory).
bool data_remove(const char *name);
int data_index_count();
std::string data_describe(int i);   // "name -> container path"

// Base directory 0 (the home directory, ending in "/"), or null.
const char *home_dir();
bool open_home_folder();

// Start-up checks. The game-data check also points the log at "lastlog.txt" in the
// home directory. Digests are 40 lowercase hexadecimal digits.
bool data_check_game_data(const char *expected_digest);
// The log file the game-data check opens in the home directory ("lastlog.txt").
void data_set_log_name(const char *file_name);
bool data_check_fixed_files(const char *expected_digest);
bool data_fixed_files_ok();
// The list of files whose contents make up the fixed-file digest, in order.
extern const char *const data_fixed_file_names[7];

// The working-set request made when a race is set up (log lines only on Linux).
void data_request_working_set();

// Tests only: forget the base directories, the index and the name list so they are
// built again from the environment on next use.
void data_reset();
