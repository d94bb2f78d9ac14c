// shapegen OUTDIR: writes the collision shapes of the bike parts and the starting
// gate into OUTDIR (created when missing).
#include <cstdio>
#include <filesystem>

#include "tools/shapegen.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: shapegen OUTDIR\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    if (ec) {
        fprintf(stderr, "shapegen: can't create '%.900s'\n", argv[1]);
        return 1;
    }
    return shapegen_write_all(argv[1]) ? 0 : 1;
}
