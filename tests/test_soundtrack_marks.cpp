// The composer's marks against the demo's schedule: each accent of the
// soundtrack falls, on the sixteenth grid, where the picture changes. Run in
// order through the schedule, the timeline's state just after every mark
// differs from its state just before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "marks.h"
#include "shell/demo_state.h"
#include "shell/timeline.h"

namespace {

// Everything the timeline writes, byte for byte.
std::vector<unsigned char> snapshot() {
    std::vector<unsigned char> s(sizeof sceneFlags + sizeof cues + sizeof volumeGrid);
    std::memcpy(s.data(), &sceneFlags, sizeof sceneFlags);
    std::memcpy(s.data() + sizeof sceneFlags, &cues, sizeof cues);
    std::memcpy(s.data() + sizeof sceneFlags + sizeof cues, volumeGrid, sizeof volumeGrid);
    return s;
}

TEST(SoundtrackMarks, OnTheGridInOrderAndEachChangesTheTimelinesState) {
    // Frames every 16 ms, plus one just before and one just after each mark.
    sceneFlags = SceneFlags{};
    cues = TimelineCues{};
    std::fill(volumeGrid, volumeGrid + kVolumeCells, 0.0f);
    randomState = 1;
    int32_t prev = 0;
    auto step = [&](int32_t t) {
        frameDeltaMs = float(t - prev);
        musicTimeMs = float(t);
        applyTimeline(t);
        prev = t;
    };
    step(0);
    int32_t t = 0;
    for (int32_t mark : soundtrack::kMarksMs) {
        EXPECT_EQ(mark % soundtrack::kSixteenthMs, 0) << mark << " is off the sixteenth grid";
        ASSERT_TRUE(mark > t && mark < 260000) << mark << ": out of order, or past the demo's end";
        for (t += 16; t < mark - 1; t += 16) step(t);
        step(mark - 1);
        const std::vector<unsigned char> before = snapshot();
        step(mark + 1);
        EXPECT_TRUE(snapshot() != before) << "nothing in the picture changes at " << mark << " ms";
        t = mark + 1;
    }
}

}  // namespace
