// The command line: options and one optional demo file name.
#pragma once

enum { CMDLINE_CONTINUE = -1 };

// The cursor over the argument list while options are taken.
struct ArgCursor {
    int argc;
    char **argv;
    int index;
};

// If the argument under the cursor is the option `name`, consumes it (and its value
// for a value option, from "name=value" or from the next argument) and returns
// true. *value is null when a value option is the last argument.
bool take_option(ArgCursor *cursor, const char *name, bool takes_value, const char **value);

// Parses argv[1..] into the startup options and settings. Returns CMDLINE_CONTINUE,
// or the exit status when the program must end now (errors go to standard error).
int parse_command_line(int argc, char **argv);
