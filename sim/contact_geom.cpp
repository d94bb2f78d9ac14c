// Contact geometry between the tyre torus, part spheres and terrain triangles.
//
// Conventions: n = (v1 - v0) x (v2 - v0) is the triangle's (unnormalised) upward
// normal; edge i runs from v[i] to v[i+1] and its outward normal is
// e_i = (v[i+1] - v[i]) x n. A point X is inside edge i when (X - v[i]) . e_i <= 0.
// Every division is guarded: degenerate input (a zero-area triangle, an axle along
// the normal, a point on the axis) yields a finite answer or no contact.
#include "sim/contact_geom.h"

#include <cmath>

static constexpr double TOUCH_EPSILON = 1.0 / (1 << 20);    // 2^-20

static void sub(const double a[3], const double b[3], double out[3])
{
    for (int k = 0; k < 3; k++)
        out[k] = a[k] - b[k];
}

static double dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

static void cross(const double a[3], const double b[3], double out[3])
{
    double x = a[1] * b[2] - a[2] * b[1];
    double y = a[2] * b[0] - a[0] * b[2];
    double z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

static void scale_add(const double a[3], const double b[3], double s, double out[3])
{
    for (int k = 0; k < 3; k++)
        out[k] = a[k] + b[k] * s;
}

static double length(const double a[3])
{
    return std::sqrt(dot(a, a));
}

// Normalises in place; a (near) zero vector becomes the fallback.
static void normalise_or(double v[3], const double fallback[3])
{
    double l = length(v);
    if (!(l > 1e-300)) {
        for (int k = 0; k < 3; k++)
            v[k] = fallback[k];
        return;
    }
    for (int k = 0; k < 3; k++)
        v[k] /= l;
}

static void set(double out[3], const double in[3])
{
    for (int k = 0; k < 3; k++)
        out[k] = in[k];
}

static double no_contact(ContactHit *out)
{
    *out = ContactHit{};
    out->normal[1] = 1;
    return 0;
}

// A unit vector perpendicular to the unit vector a.
static void any_perpendicular(const double a[3], double out[3])
{
    double pick[3] = {0, 0, 0};
    int smallest = 0;
    for (int k = 1; k < 3; k++)
        if (std::fabs(a[k]) < std::fabs(a[smallest]))
            smallest = k;
    pick[smallest] = 1;
    cross(a, pick, out);
    static const double up[3] = {0, 1, 0};
    normalise_or(out, up);
}

void nearest_circle_point(const double centre[3], const double axis[3], double radius,
                          const double p[3], double out[3])
{
    double w[3];
    sub(p, centre, w);
    scale_add(w, axis, -dot(w, axis), w);
    if (dot(w, w) < radius * 1e-6 || !(dot(w, w) > 0))
        any_perpendicular(axis, w);
    double l = length(w);
    scale_add(centre, w, radius / l, out);
}

static void triangle_normal(const ContactTriangle &tri, double n[3])
{
    double a[3], b[3];
    sub(tri.v[1], tri.v[0], a);
    sub(tri.v[2], tri.v[0], b);
    cross(a, b, n);
}

// Inside edge i with respect to the normal n (the triangle's, or vertical for the
// plan-view test).
static bool inside_edge(const ContactTriangle &tri, int i, const double n[3], const double x[3])
{
    double d[3], e[3], rel[3];
    sub(tri.v[(i + 1) % 3], tri.v[i], d);
    cross(d, n, e);
    sub(x, tri.v[i], rel);
    return dot(rel, e) <= 0;
}

static bool inside(const ContactTriangle &tri, const double n[3], const double x[3])
{
    return inside_edge(tri, 0, n, x) && inside_edge(tri, 1, n, x) && inside_edge(tri, 2, n, x);
}

static bool inside_plan(const ContactTriangle &tri, const double x[3])
{
    double up[3];
    triangle_normal(tri, up);
    // The plan-view test uses the vertical; its sign follows the triangle's winding.
    double vertical[3] = {0, up[1] >= 0 ? 1.0 : -1.0, 0};
    return inside(tri, vertical, x);
}

// Squared distance from a point to the circle and its first two derivatives
// along the line p(t) = base + t d.
struct CircleLine {
    double w0[3], d[3];         // base - centre, direction
    double axis[3];
    double radius;
};

static double circle_line_distance_sq(const CircleLine &cl, double t)
{
    double w[3];
    scale_add(cl.w0, cl.d, t, w);
    double a = dot(w, cl.axis);
    double perp_sq = dot(w, w) - a * a;
    double perp = perp_sq > 0 ? std::sqrt(perp_sq) : 0;
    return a * a + (perp - cl.radius) * (perp - cl.radius);
}

static void circle_line_derivatives(const CircleLine &cl, double t, double *f1, double *f2)
{
    double w[3];
    scale_add(cl.w0, cl.d, t, w);
    double da = dot(cl.d, cl.axis);
    double a = dot(w, cl.axis);
    // q(t) = |w_perp|^2 = q0 + 2 b t + c t^2, written at t directly.
    double q = dot(w, w) - a * a;
    double qb = dot(w, cl.d) - a * da;       // q'/2
    double qc = dot(cl.d, cl.d) - da * da;   // q''/2
    double dd = dot(cl.d, cl.d);
    if (q < 1e-24)
        q = 1e-24;
    double sq = std::sqrt(q);
    *f1 = 2 * dot(w, cl.d) - 2 * cl.radius * qb / sq;
    *f2 = 2 * dd - 2 * cl.radius * (qc * q - qb * qb) / (q * sq);
}

// Newton's method on the derivative, from one start, at most four steps.
static double newton_on_edge(const CircleLine &cl, double t)
{
    double f1, f2;
    circle_line_derivatives(cl, t, &f1, &f2);
    for (int step = 0; step < 4; step++) {
        if (std::fabs(f1) < 1.0 / (1u << 30) || !(std::fabs(f2) > 0))
            break;
        double next = t - f1 / f2;
        double g1, g2;
        circle_line_derivatives(cl, next, &g1, &g2);
        if (!(std::fabs(g1) <= std::fabs(f1)))
            break;
        t = next;
        f1 = g1;
        f2 = g2;
    }
    if (!(t >= 0))
        t = 0;
    if (t > 1)
        t = 1;
    return t;
}

// The point of edge i nearest to the circle, and its distance.
static double edge_nearest(const ContactTriangle &tri, int i, const double centre[3],
                           const double axis[3], double radius, double point[3])
{
    CircleLine cl;
    sub(tri.v[(i + 1) % 3], tri.v[i], cl.d);
    sub(tri.v[i], centre, cl.w0);
    set(cl.axis, axis);
    cl.radius = radius;
    double dd = dot(cl.d, cl.d);
    double t0 = 0, delta = 0.001 * radius;
    if (dd > 0) {
        t0 = -dot(cl.w0, cl.d) / dd;
        // The circle reaches R along the edge's direction within the wheel's plane.
        double perp[3];
        scale_add(cl.d, axis, -dot(cl.d, axis), perp);
        double pl = length(perp);
        if (pl * pl > 1e-12 * dd)
            delta = radius * pl / dd;
    }
    double ta = newton_on_edge(cl, t0 - delta);
    double tb = newton_on_edge(cl, t0 + delta);
    double da = circle_line_distance_sq(cl, ta), db = circle_line_distance_sq(cl, tb);
    double t = db < da ? tb : ta;
    scale_add(tri.v[i], cl.d, t, point);
    return std::sqrt(db < da ? db : da);
}

// No point of edge i lies nearer than this to the circle: a circle point is in the
// circle's plane and at R from the centre, so a point's distance to it is at least
// its distance to that plane and at least the gap between its distance from the
// centre and R. Each bound is taken at its own minimum along the segment.
static double edge_distance_bound(const ContactTriangle &tri, int i, const double c[3],
                                  const double a[3], double big_r)
{
    const double *p0 = tri.v[i], *p1 = tri.v[(i + 1) % 3];
    double w0[3], w1[3], d[3];
    sub(p0, c, w0);
    sub(p1, c, w1);
    sub(p1, p0, d);
    double a0 = dot(w0, a), a1 = dot(w1, a);
    double plane = (a0 > 0) != (a1 > 0) ? 0 : std::fmin(std::fabs(a0), std::fabs(a1));
    double far = std::sqrt(std::fmax(dot(w0, w0), dot(w1, w1)));
    double dd = dot(d, d), t = dd > 0 ? -dot(w0, d) / dd : 0;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    double nearest[3];
    scale_add(w0, d, t, nearest);
    double near = length(nearest);
    double shell = near > big_r ? near - big_r : far < big_r ? big_r - far : 0;
    return std::fmax(plane, shell);
}

// Step 5 of the torus test: the distance from the centre circle to the triangle's
// boundary decides. An edge whose distance bound shows it can be neither the
// nearest feature nor give a contact deeper than beat is not searched.
static double torus_fallback(const double c[3], const double a[3], double big_r, double r,
                             const ContactTriangle &tri, const double n[3], double beat,
                             ContactHit *out)
{
    // Every point of a triangle wholly on one side of the wheel's plane, farther
    // than r − beat from it, is at least that far from the circle.
    double useless = r - beat + 1e-9;
    double along[3];
    for (int k = 0; k < 3; k++) {
        double w[3];
        sub(tri.v[k], c, w);
        along[k] = dot(w, a);
    }
    if ((along[0] > useless && along[1] > useless && along[2] > useless) ||
        (along[0] < -useless && along[1] < -useless && along[2] < -useless))
        return no_contact(out);
    double vertex_dist[3], nearest_vertex = INFINITY;
    for (int k = 0; k < 3; k++) {
        double w[3];
        sub(tri.v[k], c, w);
        scale_add(w, a, -dot(w, a), w);
        double l = length(w);
        if (l > big_r)
            for (int m = 0; m < 3; m++)
                w[m] *= big_r / l;
        double disc[3], diff[3];
        scale_add(c, w, 1, disc);
        sub(tri.v[k], disc, diff);
        vertex_dist[k] = length(diff);
        nearest_vertex = std::fmin(nearest_vertex, vertex_dist[k]);
    }
    // The margin in useless keeps rounding out of the decision.
    double best = INFINITY;
    int best_kind = -1;     // 0..2 edges, 3..5 vertices
    double best_point[3] = {0, 0, 0};
    for (int i = 0; i < 3; i++) {
        double bound = edge_distance_bound(tri, i, c, a, big_r);
        if (bound > useless || bound > nearest_vertex + 1e-9 || bound > best + 1e-9)
            continue;
        double p[3];
        double dist = edge_nearest(tri, i, c, a, big_r, p);
        if (dist < best) {
            best = dist;
            best_kind = i;
            set(best_point, p);
        }
    }
    for (int k = 0; k < 3; k++) {
        if (vertex_dist[k] < best) {
            best = vertex_dist[k];
            best_kind = 3 + k;
            set(best_point, tri.v[k]);
        }
    }
    double depth = r - best;
    if (best_kind < 0 || !(depth > 0))
        return no_contact(out);
    double unit_n[3];
    set(unit_n, n);
    static const double up[3] = {0, 1, 0};
    normalise_or(unit_n, up);
    out->depth = depth;
    if (best_kind >= 3) {
        set(out->point, best_point);
        double rel[3];
        sub(best_point, c, rel);
        double s = dot(rel, a) > 0 ? -1 : 1;
        for (int k = 0; k < 3; k++)
            out->normal[k] = a[k] * s;
        return depth;
    }
    double circle[3];
    nearest_circle_point(c, a, big_r, best_point, circle);
    if (best > TOUCH_EPSILON) {
        set(out->point, best_point);
        sub(circle, best_point, out->normal);
        normalise_or(out->normal, unit_n);
        return depth;
    }
    // The circle touches the edge: the normal lies across the edge, within the wheel.
    double t[3], rel[3], d[3];
    sub(best_point, c, rel);
    cross(rel, a, t);
    if (dot(t, n) < 0)
        for (int k = 0; k < 3; k++)
            t[k] = -t[k];
    sub(tri.v[(best_kind + 1) % 3], tri.v[best_kind], d);
    cross(d, t, out->normal);
    if (dot(out->normal, out->normal) < TOUCH_EPSILON)
        set(out->normal, unit_n);
    else
        normalise_or(out->normal, unit_n);
    scale_add(circle, out->normal, -r, out->point);
    return depth;
}

double torus_triangle(const double c[3], const double a[3], double big_r, double r,
                      const ContactTriangle &tri, ContactHit *out, bool fallback, double beat)
{
    double n[3];
    triangle_normal(tri, n);
    double nl = length(n);
    if (!(nl > 0) || !std::isfinite(nl))
        return no_contact(out);
    double unit_n[3] = {n[0] / nl, n[1] / nl, n[2] / nl};

    // 1. The direction within the wheel's plane towards the triangle's plane.
    double u[3], na[3];
    cross(n, a, na);
    cross(na, a, u);
    if (dot(u, n) > 0)
        for (int k = 0; k < 3; k++)
            u[k] = -u[k];
    double ul = length(u);
    if (ul > 1e-12 * nl) {
        for (int k = 0; k < 3; k++)
            u[k] /= ul;
    } else {
        // Wheel lying flat on the plane: every rim point is equally low.
        any_perpendicular(a, u);
    }
    double p_low[3], p_high[3], rel[3];
    scale_add(c, u, big_r, p_low);
    scale_add(c, u, -big_r, p_high);
    sub(p_low, tri.v[0], rel);
    double s_low = dot(rel, n);
    sub(p_high, tri.v[0], rel);
    double s_high = dot(rel, n);

    if (s_low > 0) {
        // 2. The lowest rim point is above the plane.
        if (inside(tri, n, p_low)) {
            double f[3], circle[3];
            scale_add(p_low, unit_n, -s_low / nl, f);
            nearest_circle_point(c, a, big_r, f, circle);
            double depth = r - s_low / nl;
            if (!(depth > 0))
                return no_contact(out);
            out->depth = depth;
            set(out->normal, unit_n);
            scale_add(circle, unit_n, -r, out->point);
            return depth;
        }
    } else if (s_high > 0) {
        // 3. The centre circle cuts the plane.
        double cr[3];
        sub(c, tri.v[0], cr);
        double un = dot(u, n);
        double x[3];
        scale_add(c, u, un != 0 ? -dot(cr, n) / un : 0, x);
        if (inside(tri, n, x)) {
            out->depth = r - s_low / nl;
            set(out->normal, unit_n);
            scale_add(p_low, unit_n, -r, out->point);
            return out->depth;
        }
        bool side[3];
        for (int k = 0; k < 3; k++) {
            sub(tri.v[k], c, rel);
            side[k] = dot(a, rel) <= 0;
        }
        for (int i = 0; i < 3; i++) {
            int j = (i + 1) % 3;
            if (inside_edge(tri, i, n, x) || side[i] == side[j])
                continue;
            double d[3], q[3];
            sub(tri.v[j], tri.v[i], d);
            double ad = dot(a, d);
            if (ad == 0)
                continue;
            sub(c, tri.v[i], rel);
            scale_add(tri.v[i], d, dot(a, rel) / ad, q);
            double qc[3];
            sub(q, c, qc);
            if (!(length(qc) < big_r))
                continue;
            double t[3];
            cross(qc, a, t);
            if (dot(t, n) < 0)
                for (int k = 0; k < 3; k++)
                    t[k] = -t[k];
            cross(d, t, out->normal);
            normalise_or(out->normal, unit_n);
            double circle[3];
            nearest_circle_point(c, a, big_r, q, circle);
            scale_add(circle, out->normal, -r, out->point);
            out->depth = r - TOUCH_EPSILON;
            return out->depth;
        }
    } else {
        // 4. The whole circle is on or below the plane.
        if (inside_plan(tri, c)) {
            out->depth = 2 * big_r;
            out->normal[0] = 0;
            out->normal[1] = 1;
            out->normal[2] = 0;
            set(out->point, p_low);
            return out->depth;
        }
    }
    if (!fallback)
        return no_contact(out);
    return torus_fallback(c, a, big_r, r, tri, n, std::fmax(beat, 0.0), out);
}

double sphere_triangle(const double s[3], double r, const ContactTriangle &tri, ContactHit *out)
{
    double n[3];
    triangle_normal(tri, n);
    double nl = length(n);
    if (!(nl > 0) || !std::isfinite(nl))
        return no_contact(out);
    double unit_n[3] = {n[0] / nl, n[1] / nl, n[2] / nl};

    if (!inside(tri, n, s)) {
        double v[3];
        bool found = false;
        for (int j = 0; j < 3 && !found; j++) {
            double d[3], rel[3];
            sub(tri.v[(j + 1) % 3], tri.v[j], d);
            sub(s, tri.v[j], rel);
            double dd = dot(d, d);
            if (!(dd > 0))
                continue;
            double t = dot(rel, d) / dd;
            if (t >= 0 && t <= 1) {
                scale_add(rel, d, -t, v);
                found = true;
            }
        }
        if (!found) {
            double best = INFINITY;
            for (int k = 0; k < 3; k++) {
                double rel[3];
                sub(s, tri.v[k], rel);
                double dist = dot(rel, rel);
                if (dist < best) {
                    best = dist;
                    set(v, rel);
                }
            }
        }
        double vl = length(v);
        double depth = r - vl;
        if (!(depth > 0))
            return no_contact(out);
        set(out->normal, v);
        normalise_or(out->normal, unit_n);
        scale_add(s, out->normal, -r, out->point);
        out->depth = depth;
        return depth;
    }
    double rel[3];
    sub(s, tri.v[0], rel);
    double depth = r - dot(rel, unit_n);
    if (!(depth > 0))
        return no_contact(out);
    if (depth <= 2 * r) {
        set(out->normal, unit_n);
        scale_add(s, unit_n, -r, out->point);
        out->depth = depth;
        return depth;
    }
    // The centre lies more than r below the face: push straight up, as a wheel
    // sunk below the ground is.
    if (!inside_plan(tri, s))
        return no_contact(out);
    out->depth = depth;
    out->normal[0] = 0;
    out->normal[1] = 1;
    out->normal[2] = 0;
    set(out->point, s);
    out->point[1] -= r;
    return depth;
}

double sphere_sphere(const double c1[3], double r1, const double c2[3], double r2,
                     ContactHit *out)
{
    double d[3];
    sub(c2, c1, d);
    double dist = length(d);
    if (!(dist < r1 + r2))
        return no_contact(out);
    static const double up[3] = {0, 1, 0};
    set(out->normal, d);
    normalise_or(out->normal, up);
    out->depth = r1 + r2 - dist;
    scale_add(c1, out->normal, r1 - out->depth / 2, out->point);
    return out->depth;
}
