// frame_pacing.cpp -- a fixed 60 Hz grid of frame starts, by default.
#include "shell/frame_pacing.h"

#include <time.h>

int maxFramesPerSecond = 60;

static FrameGrid playerGrid;

// Slots are computed from the anchor, never by adding a rounded period, so
// the grid does not drift: slot k is exact to the nanosecond at any k.
int64_t nextFrameStart(FrameGrid& grid, int64_t nowNs, int fps) {
    if (fps <= 0) return nowNs;
    const auto slotStart = [&](int64_t slot) { return grid.anchorNs + slot * 1000000000 / fps; };
    if (grid.slot >= 0) {
        const int64_t start = slotStart(grid.slot + 1);
        if (nowNs - start <= slotStart(grid.slot + 2) - start) {
            ++grid.slot;
            return start > nowNs ? start : nowNs;
        }
    }
    grid.anchorNs = nowNs;
    grid.slot = 0;
    return nowNs;
}

static int64_t steadyNowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// An absolute sleep on the same clock: the wake-up is the slot itself, not
// a duration that a late start would stretch. A signal cuts it short, which
// is what the frame loop wants: it checks for one before drawing.
void waitForFrameSlot() {
    const int64_t start = nextFrameStart(playerGrid, steadyNowNs(), maxFramesPerSecond);
    const timespec until{time_t(start / 1000000000), long(start % 1000000000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
}
