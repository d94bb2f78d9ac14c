// Private to the catalogue: the per-entry rows that differ between bikes. The
// catalogue module turns them into full BikeModels once, adding the values shared
// by every entry and by every entry of one class, and the torque curves.
#pragma once

#include "sim/catalogue.h"

// How an entry's open-throttle torque curve is made: either a table given point
// by point, or designed from its peak and rev limit (see catalogue.cpp).
struct CatalogueRow {
    const char *name;
    const char *engine_class;
    const char *graphics_stem;
    const char *default_texture;
    double primary_ratio;
    int front_sprocket, rear_sprocket;
    double gear_ratios[GEAR_COUNT];     // 0 where the bike has no such gear
    const double *open_table;           // the given table, or null to design one
    double peak_torque;                 // ft·lbf, designed curves only
    double peak_rpm;                    // a multiple of 500
    double rev_limit_rpm;               // a multiple of 500: the curve's zero
};

// The BIKE_MODEL_COUNT rows in catalogue order.
const CatalogueRow *catalogue_rows();
