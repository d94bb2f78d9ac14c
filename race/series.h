// Points series: groups of races with standings.
#pragma once

// Finds the ".series" files among the data files (start-up).
void load_series();
