// The rider's assist settings derived from the Stability value.
#pragma once

void apply_stability_preset(double stability);
