// The composer's marks against the demo's schedule: each accent of the
// soundtrack falls where the picture changes. Run in order through the
// schedule, the timeline's state just after every mark differs from its
// state just before.
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

TEST(SoundtrackMarks, AreInOrderOnTheSixteenthGridAndInsideThePicture) {
    for (int i = 0; i < soundtrack::kMarkCount; ++i) {
        int32_t m = soundtrack::kMarksMs[i];
        EXPECT_EQ(m % soundtrack::kSixteenthMs, 0) << m;
        EXPECT_GT(m, i > 0 ? soundtrack::kMarksMs[i - 1] : 0) << "in order, after the start";
        EXPECT_LT(m, 260000) << "the demo ends at 260 s";
    }
    // The sections tile the piece without gaps.
    EXPECT_EQ(soundtrack::kSections[0].startMs, 0);
    for (int i = 1; i < soundtrack::kSectionCount; ++i)
        EXPECT_EQ(soundtrack::kSections[i].startMs, soundtrack::kSections[i - 1].endMs);
    EXPECT_EQ(soundtrack::kSections[soundtrack::kSectionCount - 1].endMs, soundtrack::kLengthMs);
}

TEST(SoundtrackMarks, EachMarkChangesTheTimelinesState) {
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
        for (t += 16; t < mark - 1; t += 16) step(t);
        step(mark - 1);
        const std::vector<unsigned char> before = snapshot();
        step(mark + 1);
        EXPECT_TRUE(snapshot() != before) << "nothing in the picture changes at " << mark << " ms";
        t = mark + 1;
    }
}

}  // namespace
