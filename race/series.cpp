#include "race/series.h"

void load_series() {}
