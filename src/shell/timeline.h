// timeline.h -- the demo's script: which scenes run when, and what steers them.
#pragma once

#include <cstdint>

constexpr int kVolumeSide = 30;
constexpr int kVolumeCells = kVolumeSide * kVolumeSide * kVolumeSide;

// The cube volume scene's lattice, cell (x, y, z) at (x * 30 + y) * 30 + z.
extern float volumeGrid[kVolumeCells];

// Runs the one row of the schedule that t (music position, ms) falls in.
// At 260000 ms or later it ends the program.
void applyTimeline(int32_t t);

// Switches off the block of seven scene flags (title card to floor scene).
void clearSceneFlags();

// Sets 20 cells drawn from the shared generator (x, then y, then z) to 0.5.
void seedVolume();
