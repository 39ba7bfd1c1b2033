// timeline.h -- the demo's script: which scenes run when, and what steers them.
#pragma once

#include <cstdint>

#include "state/schedule.h"

// Applies the schedule (state/schedule.h) at t, the music position in ms:
// the key in force there, then the fades, the letterbox and the seeding
// that step with the frame. At the schedule's end (kEndMs) or later it ends
// the program.
void applyTimeline(int32_t t);

// The flag that one of the schedule's switches writes.
bool& switchFlag(schedule::Switch s);

// Sets 20 cells drawn from the shared generator (x, then y, then z) to 0.5.
void seedVolume();
