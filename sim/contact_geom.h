// Contact geometry: the tyre torus, the spheres of part shapes and the terrain's
// triangles, tested against each other. Pure functions over plain vectors, so
// they can be checked without ODE or a terrain.
#pragma once

// A triangle in the order of the terrain's cell split, so that
// (v1 - v0) x (v2 - v0) points upwards.
struct ContactTriangle {
    double v[3][3];
};

// One contact: depth 0 means none. The normal is unit length and points from the
// obstacle towards the tested body.
struct ContactHit {
    double depth;
    double point[3];
    double normal[3];
};

// The tube of radius r around the circle of radius R (centre, unit axle) against a
// triangle. Without the fallback (the roost emitter's variant) a wheel whose centre
// circle misses the triangle's face gives no contact. Returns the depth. A caller
// that keeps only hits deeper than beat (the deepest so far) may pass it: a
// fallback hit that could not be deeper is then reported as none, unsearched.
double torus_triangle(const double centre[3], const double axle[3], double torus_radius,
                      double tube_radius, const ContactTriangle &tri, ContactHit *out,
                      bool fallback = true, double beat = 0);
double sphere_triangle(const double centre[3], double radius, const ContactTriangle &tri,
                       ContactHit *out);
// The normal points from the first sphere towards the second.
double sphere_sphere(const double c1[3], double r1, const double c2[3], double r2,
                     ContactHit *out);

// The point of a circle (centre, unit axis, radius) nearest to p.
void nearest_circle_point(const double centre[3], const double axis[3], double radius,
                          const double p[3], double out[3]);
