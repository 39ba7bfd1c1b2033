// frame_pacing.cpp -- a fixed 60 Hz grid of frame starts, by default.
#include "shell/frame_pacing.h"

#include <poll.h>
#include <time.h>

int maxFramesPerSecond = 60;

static FrameGrid playerGrid;
static bool slotPending = false;  // a slot was taken from the grid and not yet reached
static int64_t pendingStartNs = 0;

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

// The wake-up is the slot itself, measured on the same clock at every call,
// not a duration that a late start or an early wake-up would stretch. Input
// (a key, an expose) or a signal cuts the sleep short, which is what the
// frame loop wants: Escape is handled at once at any cap, and a signal is
// checked for before drawing.
bool waitForFrameSlot(int wakeFd) {
    if (!slotPending) {
        pendingStartNs = nextFrameStart(playerGrid, steadyNowNs(), maxFramesPerSecond);
        slotPending = true;
    }
    const int64_t left = pendingStartNs - steadyNowNs();
    if (left > 0) {
        const timespec timeout{time_t(left / 1000000000), long(left % 1000000000)};
        pollfd connection{wakeFd, POLLIN, 0};
        ppoll(&connection, wakeFd >= 0 ? 1 : 0, &timeout, nullptr);
        if (steadyNowNs() < pendingStartNs) return false;
    }
    slotPending = false;
    return true;
}
