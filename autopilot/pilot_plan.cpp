// Choosing lines: what a line is expected to cost for each skill, which lines join
// up from one segment to the next, the routes (the best chain of lines around the
// lap, per skill) and the planning of the next segment of an auto pilot's path.
#include <cmath>
#include <vector>

#include "autopilot/lines.h"
#include "autopilot/pilot.h"
#include "autopilot/pilot_local.h"
#include "core/options.h"
#include "platform/vrak.h"
#include "race/race.h"
#include "sim/racer.h"
#include "track/gates.h"

namespace
{

constexpr double NO_JOIN = 100000000;     // cost of a pair of lines that does not join
constexpr double UNUSABLE = 1e300;        // no line in the slot
constexpr int SEARCH_SEGMENTS = 8;

struct Routes {
    std::vector<int32_t> ids[3];    // per skill 0..2, per lap segment; 0 = none
};

Routes routes;

double clampd(double x, double lo, double hi)
{
    return x < lo ? lo : x > hi ? hi : x;
}

bool used(const LineSlot *l)
{
    return l && !l->points.empty();
}

// The sample that would follow the last of a line (or path): the last step repeated,
// turned by the turn between the two last steps. *step is the last step's
// horizontal length.
void extrapolate(const LinePoint *pts, int n, double out[3], double *step)
{
    const LinePoint &c = pts[n - 1];
    if (n < 2) {
        out[0] = c.x, out[1] = c.y, out[2] = c.z;
        *step = 0;
        return;
    }
    const LinePoint &b = pts[n - 2];
    double sx = c.x - b.x, sy = c.y - b.y, sz = c.z - b.z;
    *step = std::sqrt(sx * sx + sz * sz);
    if (n >= 3) {
        const LinePoint &a = pts[n - 3];
        double turn = std::atan2(sz, sx) - std::atan2(b.z - a.z, b.x - a.x);
        if ((b.x - a.x) * (b.x - a.x) + (b.z - a.z) * (b.z - a.z) > 1e-6 && *step > 1e-6) {
            double cs = std::cos(turn), sn = std::sin(turn);
            double x = sx * cs - sz * sn, z = sx * sn + sz * cs;
            sx = x, sz = z;
        }
    }
    out[0] = c.x + sx, out[1] = c.y + sy, out[2] = c.z + sz;
}

double hdist(const double p[3], const LinePoint &q)
{
    double dx = q.x - p[0], dz = q.z - p[2];
    return std::sqrt(dx * dx + dz * dz);
}

// How well a line's start follows on from the sample expected after a path or line:
// its first point near the expected sample, its second point one step further on.
// 0 none, 1 a perfect join.
double join_quality(const double expected[3], const LinePoint &last, double step,
                    const LineSlot *j, bool strict)
{
    // The line must head on the way the path heads, not back along it.
    const LinePoint &j0 = j->points[0], &j1 = j->points[1];
    double hx = expected[0] - last.x, hz = expected[2] - last.z;
    if ((j1.x - j0.x) * hx + (j1.z - j0.z) * hz <= 0 && step > 0)
        return 0;
    double d1 = hdist(expected, j0);
    double d2 = hdist(expected, j1);
    double along = std::fabs(d2 - d1 - step);
    if (strict)
        return d1 <= 2.5 && along <= 2.5 ? 1 : 0;
    return clampd((5 - d1) * (2.0 / 7), 0, 1) * clampd((3 - along) * 0.5, 0, 1);
}

// A min-plus search over chains of lines through consecutive segments. cost[i][j]:
// best cost of a chain from line i of the first segment to line j of the current one,
// not counting j; pred keeps the best line of the segment before, per pair.
struct ChainSearch {
    int count = 0;
    std::vector<int> segs;
    std::vector<double> line_costs;     // per segment × slot
    std::vector<double> cost;           // 45 × 45, of the last segment
    std::vector<uint8_t> pred;          // per segment × 45 × 45
};

double lc(const ChainSearch &c, int k, int i)
{
    return c.line_costs[k * LINE_SLOTS + i];
}

void chain_search(ChainSearch *c, int first, int count, int skill, int min_tested)
{
    c->count = count;
    c->segs.resize(count);
    c->line_costs.assign(count * LINE_SLOTS, UNUSABLE);
    for (int k = 0; k < count; k++) {
        c->segs[k] = lap_segment(first + k);
        for (int i = 0; i < LINE_SLOTS; i++) {
            const LineSlot *l = line_slot(c->segs[k], i);
            if (used(l) && l->tested >= min_tested)
                c->line_costs[k * LINE_SLOTS + i] = line_cost(l, skill);
        }
    }
    c->cost.assign(LINE_SLOTS * LINE_SLOTS, UNUSABLE);
    c->pred.assign((size_t)count * LINE_SLOTS * LINE_SLOTS, 0);
    if (count < 2)
        return;
    for (int i = 0; i < LINE_SLOTS; i++) {
        if (lc(*c, 0, i) >= UNUSABLE)
            continue;
        for (int j = 0; j < LINE_SLOTS; j++) {
            if (lc(*c, 1, j) >= UNUSABLE)
                continue;
            bool joins = line_continues(line_slot(c->segs[0], i), line_slot(c->segs[1], j));
            c->cost[i * LINE_SLOTS + j] = joins ? lc(*c, 0, i) : NO_JOIN;
            c->pred[(1 * LINE_SLOTS + i) * LINE_SLOTS + j] = (uint8_t)i;
        }
    }
    std::vector<double> next(LINE_SLOTS * LINE_SLOTS);
    bool joins[LINE_SLOTS][LINE_SLOTS];
    for (int k = 2; k < count; k++) {
        for (int j = 0; j < LINE_SLOTS; j++)
            for (int l = 0; l < LINE_SLOTS; l++)
                joins[j][l] = lc(*c, k - 1, j) < UNUSABLE && lc(*c, k, l) < UNUSABLE &&
                              line_continues(line_slot(c->segs[k - 1], j),
                                             line_slot(c->segs[k], l));
        for (int i = 0; i < LINE_SLOTS; i++) {
            for (int l = 0; l < LINE_SLOTS; l++) {
                double best = UNUSABLE;
                int arg = 0;
                if (lc(*c, k, l) < UNUSABLE) {
                    for (int j = 0; j < LINE_SLOTS; j++) {
                        double a = c->cost[i * LINE_SLOTS + j];
                        if (a >= UNUSABLE)
                            continue;
                        double t = a + (joins[j][l] ? lc(*c, k - 1, j) : NO_JOIN);
                        if (t < best) {
                            best = t;
                            arg = j;
                        }
                    }
                }
                next[i * LINE_SLOTS + l] = best;
                c->pred[((size_t)k * LINE_SLOTS + i) * LINE_SLOTS + l] = (uint8_t)arg;
            }
        }
        c->cost.swap(next);
    }
}

// The lines of a chain from first line i to last line j, into out (one per segment).
void chain_lines(const ChainSearch &c, int i, int j, std::vector<int> *out)
{
    out->assign(c.count, 0);
    (*out)[c.count - 1] = j;
    for (int k = c.count - 1; k >= 1; k--) {
        j = c.pred[((size_t)k * LINE_SLOTS + i) * LINE_SLOTS + j];
        (*out)[k - 1] = j;
    }
    (*out)[0] = i;
}

// Cost of a chain ending in line j followed by `then` (a slot of the segment after
// the range; -1: nothing follows).
double chain_end(const ChainSearch &c, int j, const LineSlot *then)
{
    double own = lc(c, c.count - 1, j);
    if (own >= UNUSABLE)
        return UNUSABLE;
    if (!then)
        return own;
    return line_continues(line_slot(c.segs[c.count - 1], j), then) ? own : NO_JOIN;
}

// Best closed chain over segments [first, first + count) that joins `then` at its
// end (then = null: the chain closes on its own first line). False when no line.
bool best_chain(int first, int count, int skill, const LineSlot *then, std::vector<int> *out,
                double *total)
{
    ChainSearch c;
    chain_search(&c, first, count, skill, 5);
    double best = UNUSABLE;
    int bi = -1, bj = -1;
    for (int i = 0; i < LINE_SLOTS; i++) {
        if (lc(c, 0, i) >= UNUSABLE)
            continue;
        const LineSlot *follow = then ? then : line_slot(c.segs[0], i);
        for (int j = 0; j < LINE_SLOTS; j++) {
            if (count == 1 && j != i)
                continue;
            double a = count == 1 ? 0 : c.cost[i * LINE_SLOTS + j];
            double e = chain_end(c, j, follow);
            if (a >= UNUSABLE || e >= UNUSABLE)
                continue;
            if (a + e < best) {
                best = a + e;
                bi = i, bj = j;
            }
        }
    }
    if (bi < 0)
        return false;
    if (count == 1)
        out->assign(1, bi);
    else
        chain_lines(c, bi, bj, out);
    *total = best;
    return true;
}

} // namespace

double line_cost(const LineSlot *line, int skill)
{
    double tested = line->tested, canceled = line->canceled;
    if (skill == 3) {
        if (tested + canceled > 5 && 4 * tested < canceled)
            return 100000;
        uint64_t x = (uint64_t)line->tested + 4 * (uint64_t)line->canceled;
        int bits = 0;
        while (x) {
            bits++;
            x >>= 1;
        }
        return 1000.0 * (bits + 4);
    }
    if (line->tested < (skill == 2 ? 1 : 5) || line->tested <= 0)
        return 1000000;
    double share = clampd(canceled / (tested + canceled), 0, 1);
    double factor = skill == 0 ? 1 : skill == 1 ? 1.1428572 : 4;
    return (double)line->sum_a / tested + share * factor * 640;
}

bool line_continues(const LineSlot *i, const LineSlot *j)
{
    if (!used(i) || !j || j->points.size() < 2)
        return false;
    if (std::fabs(i->points.back().speed) > std::fabs(j->points[0].speed) + 15)
        return false;
    double expected[3], step;
    extrapolate(i->points.data(), (int)i->points.size(), expected, &step);
    return join_quality(expected, i->points.back(), step, j, true) > 0;
}

int32_t route_line(int skill, int segment)
{
    if (skill < 0 || skill > 2 || segment < 0 || segment >= (int)routes.ids[skill].size())
        return 0;
    return routes.ids[skill][segment];
}

void build_routes()
{
    const TimingTables &t = timing_tables();
    int fl = t.first_lap_lines, nl = t.normal_lap_lines;
    int total = line_segment_count();
    bool debug = startup_options().debug > 0;
    for (int skill = 0; skill < 3; skill++) {
        routes.ids[skill].assign(total > 0 ? total : 0, 0);
        if (total <= 0 || fl + nl != total)
            continue;
        std::vector<int> lines;
        double normal_cost = 0, first_cost = 0;
        const LineSlot *loop_start = nullptr;
        if (nl > 0 && best_chain(fl, nl, skill, nullptr, &lines, &normal_cost)) {
            for (int k = 0; k < nl; k++)
                routes.ids[skill][fl + k] = line_slot(fl + k, lines[k])->id;
            loop_start = line_slot(fl, lines[0]);
        }
        if (fl > 0 && best_chain(0, fl, skill, loop_start, &lines, &first_cost))
            for (int k = 0; k < fl; k++)
                routes.ids[skill][k] = line_slot(k, lines[k])->id;
        if (debug) {
            vrak_log("First lap: %f\n", first_cost / 128);
            vrak_log("Normal lap: %f\n", normal_cost / 128);
        }
    }
}

// Appends a line to the path, smoothing the junction with a cubic Hermite curve from
// a point a little before the old end to the line's first point.
static void append_line(Racer *racer, PilotState *st, const LineSlot *line)
{
    if (st->cursor > 30) {
        st->path.erase(st->path.begin(), st->path.begin() + (st->cursor - 30));
        st->cursor = 30;
    }
    if (st->path.empty())
        st->path.assign(5, line->points[0]);
    int n = (int)st->path.size();
    int b = std::max(n - 5, st->cursor);
    st->path.insert(st->path.end(), line->points.begin(), line->points.end());
    if (b >= n || st->path[b].speed < 0 || st->path[n].speed < 0)
        return;
    const LinePoint pb = st->path[b], pn = st->path[n];
    const LinePoint pn1 = path_point(*st, n + 1);
    double span = n - b;
    double A[3], tA[3];
    if (b == 0) {
        const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
        const dReal *R = dBodyGetRotation(racer->bodies[BODY_FRAME]);
        double fwd[3] = {-R[2], -R[6], -R[10]};
        for (int k = 0; k < 3; k++) {
            A[k] = p[k];
            tA[k] = fwd[k] * 7.5 * n;
        }
    } else {
        const LinePoint &pa = st->path[b - 1];
        A[0] = pb.x, A[1] = pb.y, A[2] = pb.z;
        tA[0] = (pb.x - pa.x) * span, tA[1] = (pb.y - pa.y) * span, tA[2] = (pb.z - pa.z) * span;
    }
    double E[3] = {pn.x, pn.y, pn.z};
    double tE[3] = {(pn1.x - E[0]) * span, (pn1.y - E[1]) * span, (pn1.z - E[2]) * span};
    for (int k = b + 1; k < n; k++) {
        double t = (k - b) / span, t2 = t * t, t3 = t2 * t;
        double q[3];
        for (int c = 0; c < 3; c++)
            q[c] = A[c] + tA[c] * t + (3 * (E[c] - A[c]) - 2 * tA[c] - tE[c]) * t2 +
                   (2 * (A[c] - E[c]) + tA[c] + tE[c]) * t3;
        LinePoint &p = st->path[k];
        p.x = (float)q[0], p.y = (float)q[1], p.z = (float)q[2];
        p.speed = (float)std::fmin(p.speed, pb.speed + (pn.speed - pb.speed) * t);
        p.roll = (float)(pb.roll + (pn.roll - pb.roll) * t);
    }
}

void plan_next_segment(Racer *racer, PilotState *st, int32_t frame)
{
    const RaceState &race = race_state();
    int skill = pilot_plan_skill(racer);
    int seg = st->next_segment;
    int ls = lap_segment(seg);

    // The 8-segment search, cut short at a segment without lines.
    int count = 1;
    while (count < SEARCH_SEGMENTS) {
        bool any = false;
        for (int i = 0; i < LINE_SLOTS && !any; i++)
            any = used(line_slot(lap_segment(seg + count), i));
        if (!any)
            break;
        count++;
    }
    ChainSearch c;
    chain_search(&c, seg, count, skill, 0);
    double C[LINE_SLOTS], best_c = UNUSABLE;
    for (int i = 0; i < LINE_SLOTS; i++) {
        C[i] = UNUSABLE;
        if (lc(c, 0, i) >= UNUSABLE)
            continue;
        if (count == 1) {
            C[i] = lc(c, 0, i);
        } else {
            for (int j = 0; j < LINE_SLOTS; j++) {
                double a = c.cost[i * LINE_SLOTS + j], e = lc(c, count - 1, j);
                if (a < UNUSABLE && e < UNUSABLE)
                    C[i] = std::fmin(C[i], a + e);
            }
        }
        best_c = std::fmin(best_c, C[i]);
    }

    double race_time = (frame - race.start_frame) / 128.0;
    double bonus = clampd((race_time - 40) / 20, 0, 1);
    int32_t route_id = route_line(skill, ls);
    double expected[3] = {0, 0, 0}, step = 0, end_speed = 0;
    if (st->path.size() >= 3) {
        extrapolate(st->path.data(), (int)st->path.size(), expected, &step);
        end_speed = st->path.back().speed;
    }
    const dReal *pos = dBodyGetPosition(racer->bodies[BODY_FRAME]);

    int pick = -1;
    double pick_score = 0, pick_w = 0, pick_m = 0, pick_age = 0;
    for (int i = 0; i < LINE_SLOTS; i++) {
        const LineSlot *l = line_slot(ls, i);
        if (!used(l))
            continue;
        double w = C[i] >= UNUSABLE ? 0 : C[i] > 0 ? best_c / C[i] : 1;
        if (skill <= 2 && route_id != 0 && l->id == route_id)
            w += bonus * (1 - w);
        if (seg == 0)
            w = 0.2 * w + 0.8;
        double m = 0;
        if (st->path.size() < 3) {
            double dx = l->points[0].x - pos[0], dy = l->points[0].y - pos[1],
                   dz = l->points[0].z - pos[2];
            double k = clampd((100 - std::sqrt(dx * dx + dy * dy + dz * dz)) / 96, 0, 1);
            m = 10 * k * k * k;
        } else if (l->points.size() >= 2) {
            double cs = clampd((15 + std::fabs(l->points[0].speed) - std::fabs(end_speed)) * 0.2,
                               0, 1);
            double a = join_quality(expected, st->path.back(), step, l, false);
            m = cs * a * a * a;
        }
        double age = (frame - (double)l->last_picked) / 128;
        double score = m + clampd(age / 3, 0, 1) * w;
        if (pick < 0 || score > pick_score) {
            pick = i;
            pick_score = score, pick_w = w, pick_m = m, pick_age = age;
        }
    }
    if (pick < 0)
        return;
    if (startup_options().debug > 0)
        vrak_log("auto pilot: picking %d score = %f match = %f last_picked = %f\n", pick, pick_w,
                 pick_m, pick_age);

    LineSlot *line = line_slot(ls, pick);
    const LinePoint &end = line->points.back();
    for (int i = 0; i < LINE_SLOTS; i++) {
        LineSlot *o = line_slot(ls, i);
        if (!used(o))
            continue;
        const LinePoint &e = o->points.back();
        double dx = e.x - end.x, dy = e.y - end.y, dz = e.z - end.z;
        if (o == line || dx * dx + dy * dy + dz * dz <= 9)
            o->last_picked = frame;
    }
    ring_set(racer->gates.slot, seg, line->id);
    st->next_segment++;

    append_line(racer, st, line);
    if (seg == 0) {
        // The grid: drive to the first point well clear of the gate, and let no
        // recovery begin before the frame clock passes 33 s.
        const LinePoint &p0 = st->path[0];
        int n = (int)st->path.size(), k = 1;
        for (; k < n; k++) {
            const LinePoint &q = st->path[k];
            double dx = q.x - p0.x, dy = q.y - p0.y, dz = q.z - p0.z;
            if (dx * dx + dy * dy + dz * dz > 100)
                break;
        }
        st->cursor = k;
        st->advance_frame = 3840;
    }
}
