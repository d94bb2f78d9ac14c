#include "sim/setup.h"

// The fourteen assist values come with the bike catalogue; until then the preset
// has nothing to set.
void apply_stability_preset(double stability)
{
    (void)stability;
}
