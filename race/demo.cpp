#include "race/demo.h"

#include "platform/vrak.h"

// Demo files arrive with the replay history; until then none can be played.
bool open_demo_file(const char *name, const char **track)
{
    vrak_log("Can't play demo \"%.900s\" yet\n", name);
    *track = nullptr;
    return false;
}

void stop_demo_files() {}

void close_demo_file() {}

void free_demo_data() {}
