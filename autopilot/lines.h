// Lines learnt from riders' laps, kept per track and skill.
#pragma once

void free_lines();
