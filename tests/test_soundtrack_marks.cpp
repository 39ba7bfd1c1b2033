// The composer's marks against the demo's schedule: each accent of the
// soundtrack falls where the picture changes. Run in order through the
// schedule, the timeline's state just after every mark differs from its
// state just before.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "marks.h"
#include "shell/demo_state.h"
#include "shell/timeline.h"

namespace {

// Everything the timeline writes, byte for byte.
struct Snapshot {
    SceneFlags flags;
    TimelineCues cues;
    std::vector<float> grid;
};

Snapshot take() {
    Snapshot s;
    std::memcpy(&s.flags, &sceneFlags, sizeof s.flags);
    std::memcpy(&s.cues, &cues, sizeof s.cues);
    s.grid.assign(volumeGrid, volumeGrid + kVolumeCells);
    return s;
}

bool same(const Snapshot& a, const Snapshot& b) {
    return std::memcmp(&a.flags, &b.flags, sizeof a.flags) == 0 && std::memcmp(&a.cues, &b.cues, sizeof a.cues) == 0 &&
           a.grid == b.grid;
}

TEST(SoundtrackMarks, AreInOrderOnTheSixteenthGridAndInsideThePicture) {
    for (int i = 0; i < soundtrack::kMarkCount; ++i) {
        int32_t m = soundtrack::kMarksMs[i];
        EXPECT_EQ(m % soundtrack::kSixteenthMs, 0) << m;
        EXPECT_GT(m, 0);
        EXPECT_LT(m, 260000) << "the demo ends at 260 s";
        if (i > 0) {
            EXPECT_GT(m, soundtrack::kMarksMs[i - 1]);
        }
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
        Snapshot before = take();
        step(mark + 1);
        Snapshot after = take();
        EXPECT_FALSE(same(before, after)) << "nothing in the picture changes at " << mark << " ms";
        t = mark + 1;
    }
}

}  // namespace
