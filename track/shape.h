// Collision shapes: sets of spheres in body coordinates, read from ".shp" files.
// Each file is parsed once and shared; load_shape hands out the shared copy and
// free_shape gives it back.
#pragma once

#include <vector>

struct ShapeSphere {
    float centre[3];    // body coordinates
    float radius;
    float friction;     // friction coefficient
    float stiffness;    // contact spring, lbf/ft
    float damping;      // contact damper, lbf*s/ft
};

struct Shape {
    const char *name;               // interned data name
    std::vector<ShapeSphere> spheres;
    float bounding_radius;          // max over spheres of |centre| + radius
    int references;                 // holders of this shared copy
};

// The shared shape of a data name, or null when the file is missing or malformed.
Shape *load_shape(const char *name);
// Gives back one reference; the last one frees the shape. Null is ignored.
void free_shape(Shape *s);
// 0 for a null shape.
float shape_bounding_radius(const Shape *s);
// Number of distinct shapes held at the moment (for tests and leak checks).
int shape_cache_count();
