// The player's frame wait: input ends it early without taking a frame slot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "shell/frame_pacing.h"

namespace {

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// At 2 frames a second the slots are 500 ms apart, on a grid anchored by the
// first wait. Input (a byte on the pipe that stands for the X connection)
// wakes the wait at once and reports no slot; after it, the wait goes on to
// the same slot rather than taking a new one, so input neither adds a frame
// nor delays the next. The margins are wide for a loaded machine: the slot
// after the one waited for would come 500 ms later.
TEST(FrameWait, InputWakesItEarlyAndTheSlotStaysPending) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const int savedCap = maxFramesPerSecond;
    maxFramesPerSecond = 2;

    while (!waitForFrameSlot(-1)) {
    }
    const auto slotZero = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitForFrameSlot(-1));
    EXPECT_GT(msSince(slotZero), 400.0) << "slot 1";

    ASSERT_EQ(write(pipeFds[1], "k", 1), 1);
    const auto input = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitForFrameSlot(pipeFds[0])) << "input first";
    EXPECT_LT(msSince(input), 250.0) << "woken at once, not at the slot";
    char key;
    ASSERT_EQ(read(pipeFds[0], &key, 1), 1);
    EXPECT_TRUE(waitForFrameSlot(pipeFds[0]));
    const double reached = msSince(slotZero);
    EXPECT_GT(reached, 900.0) << "not before slot 2";
    EXPECT_LT(reached, 1250.0) << "slot 2, not one more after the input";

    maxFramesPerSecond = savedCap;
    close(pipeFds[0]);
    close(pipeFds[1]);
}

}  // namespace
