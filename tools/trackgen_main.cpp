// trackgen DESCRIPTION OUTDIR: writes the track directory a description designs
// into OUTDIR/<name of the description file without its extension>/.
#include <cstdio>
#include <string>

#include "tools/trackgen.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: trackgen DESCRIPTION OUTDIR\n");
        return 1;
    }
    std::string error;
    if (!generate_track(argv[1], argv[2], &error)) {
        fprintf(stderr, "trackgen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
