// The composer's marks against the demo's schedule: each accent of the
// soundtrack falls, on the sixteenth grid, where the picture changes. Run in
// order through the schedule, what one frame does to the timeline's state
// just after every mark differs from what the same frame does just before:
// a mark inside a ramp, where every frame moves the state, only passes if
// the ramp starts, stops or something else changes there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "marks.h"
#include "state/demo_state.h"
#include "shell/timeline.h"

namespace {

// Everything the timeline writes, byte for byte.
std::vector<unsigned char> snapshot() {
    std::vector<unsigned char> s(sizeof sceneFlags + sizeof cues + sizeof volumeGrid + sizeof randomState);
    unsigned char* at = s.data();
    for (auto [from, size] : {std::pair<const void*, size_t>{&sceneFlags, sizeof sceneFlags}, {&cues, sizeof cues},
                              {volumeGrid, sizeof volumeGrid}, {&randomState, sizeof randomState}}) {
        std::memcpy(at, from, size);
        at += size;
    }
    return s;
}

void restore(const std::vector<unsigned char>& s) {
    const unsigned char* at = s.data();
    for (auto [to, size] : {std::pair<void*, size_t>{&sceneFlags, sizeof sceneFlags}, {&cues, sizeof cues},
                            {volumeGrid, sizeof volumeGrid}, {&randomState, sizeof randomState}}) {
        std::memcpy(to, at, size);
        at += size;
    }
}

TEST(SoundtrackMarks, OnTheGridInOrderAndEachChangesWhatTheTimelineDoes) {
    // Frames every 16 ms up to just before each mark.
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
        ASSERT_TRUE(mark > t && mark < schedule::kEndMs) << mark << ": out of order, or past the demo's end";
        for (t += 16; t < mark - 2; t += 16) step(t);
        step(mark - 2);
        // The same 16 ms frame from the same state, drawn once just before
        // the mark and once just past it.
        const std::vector<unsigned char> reached = snapshot();
        frameDeltaMs = 16.0f;
        applyTimeline(mark - 1);
        const std::vector<unsigned char> before = snapshot();
        restore(reached);
        applyTimeline(mark + 1);
        EXPECT_TRUE(snapshot() != before) << "nothing in the picture changes at " << mark << " ms";
        prev = t = mark + 1;
    }
}

}  // namespace
