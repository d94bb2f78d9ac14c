// The shape generator: the collision shapes of the bike parts and of the starting
// gate, as sphere sets in each body's own coordinates, written as ".shp" text.
#pragma once

#include <string>
#include <vector>

#include "track/shape.h"

struct GenShape {
    const char *file_name;              // e.g. "generic_frame.shp"
    std::vector<ShapeSphere> spheres;
};

// Every shape the game data needs, in a fixed order: the seven bike parts, then the
// starting gate.
std::vector<GenShape> shapegen_make_all();
// The ".shp" text of a sphere set: the count, then per sphere its centre and its
// radius, friction, stiffness and damping, all with fixed formatting.
std::string shapegen_format(const std::vector<ShapeSphere> &spheres);
// Writes every shape into out_dir (which must exist). False, with a message on
// standard error, when a file cannot be written.
bool shapegen_write_all(const char *out_dir);

// The starting gate object's hinge lies this far (ft) under the ground: the track
// generator writes the gates' y that way and the gate shape is built around it.
constexpr double GATE_HINGE_DEPTH = 10;
