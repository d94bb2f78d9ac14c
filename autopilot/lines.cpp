#include "autopilot/lines.h"

void free_lines() {}
