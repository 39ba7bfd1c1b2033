// frame_pacing.h -- the player's frame cap: frames start on a fixed grid.
//
// Several effects step once per drawn frame and were made for 60 frames per
// second. The player therefore starts frames no faster than that on
// average, whatever the display's refresh rate or whether the driver honours
// the swap interval. The offline renderer steps its own clock and never
// waits.
#pragma once

#include <cstdint>

// The most frames per second the player starts; 0: no cap.
extern int maxFramesPerSecond;

// A fixed grid of frame slots on a steady clock: slot k begins at
// anchorNs + k * 1e9 / fps.
struct FrameGrid {
    int64_t anchorNs = 0;
    int64_t slot = -1;  // the slot of the last frame started; -1 before the first
};

// When the frame asked for at nowNs may start (never before nowNs), moving the
// grid on by one slot. A frame that finds its slot passed starts at once;
// one that finds it passed by more than a whole frame re-anchors the grid at
// nowNs, so a slow stretch is not followed by a burst of catching up. With
// fps 0 every frame starts at once.
int64_t nextFrameStart(FrameGrid& grid, int64_t nowNs, int fps);

// Sleeps (never spins) until the next frame's slot under maxFramesPerSecond,
// unless input comes first: data to read on wakeFd (the window system's
// connection; -1 for none) or a signal. True when the slot has come. False
// when woken early: the caller handles the input and calls again, and the
// wait goes on towards the same slot, so input never costs or adds a frame.
bool waitForFrameSlot(int wakeFd);
