// Running order, race length and finish: gate crossings turned into the order of
// the riders, the number of laps of a timed race, the checkered flag, the end of
// the race, the cutting penalty and the final results order.
#pragma once

#include <cstdint>

struct Racer;
struct OrderEntry;

// Sorts entries: more gates first, then earlier time, then lower slot.
void sort_order(OrderEntry *entries, int count);
// Rebuilds the running order; applies the time rule; ends the race when everyone is
// finished or gone (results, "@results.txt", the series). Nothing once final.
void update_running_order();
// The checkered-flag test; latches the racer's finished flag (both the racer's own
// and the one in its gate progress, so the step and the gate check agree).
bool is_finished(Racer *racer);
// The latched flag alone, without the leader test.
bool racer_finished(const Racer *racer);
// Field average (frames) of the stretch from race gate a to race gate b; 60 s when
// nobody in the running order has a clean time for it.
int32_t reference_segment_time(int a, int b);
// The cutting penalty of a racer (frames) and the laps it loses; *gates_passed is
// set to the racer's gates passed less the laps taken away.
int32_t cutting_penalty(const Racer *racer, int32_t *gates_passed, int *laps_taken);
// Whether the racer in a slot counts as gone for the end-of-race test: offline a
// Replayed racer without a state for more than 10 s; online anyone but the local
// rider without a state for 1 s or more.
bool racer_gone(int slot);
// Gates passed by the leader of the running order, 0 when there is none (the gate
// check's leader hook).
int32_t order_leader_gates_passed();
// Laps completed with p race gates passed, and the race gate that ends lap k
// (0 for k = 0), from the loaded lap layout.
int order_laps_for_gates(int32_t gates_passed);
int64_t order_lap_end(int64_t k);
