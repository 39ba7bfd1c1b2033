// The schedule as the timeline applies it: each key in force from its first
// to its last millisecond and nowhere else, what a key leaves alone, a short
// stretch that a slow frame skips, the ramps, the seeding and the end. (The
// title card tests step it through whole runs to the cards' moments.)
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "state/demo_state.h"
#include "shell/timeline.h"
#include "state/schedule.h"
#include "test_generator_util.h"

using namespace schedule;

namespace {

void resetState() {
    sceneFlags = SceneFlags{};
    cues = TimelineCues{};
    std::fill(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);
    randomState = 1;
    frameDeltaMs = 0;
}

int32_t TimelineCues::*const kIndices[] = {&TimelineCues::windowMeshIndex, &TimelineCues::windowElementIndex,
                                           &TimelineCues::chessboardFrame, &TimelineCues::cameraIndex,
                                           &TimelineCues::halftoneMeshIndex};
int8_t indexOf(const Key& key, int i) {
    const int8_t values[] = {key.windowMesh, key.windowElement, key.chessboardFrame, key.camera, key.halftoneMesh};
    return values[i];
}

// Every switch set to `on` and every index to `index`: values no key writes,
// so that what a key leaves alone shows.
void setEverything(bool on, int32_t index) {
    resetState();
    for (int bit = 0; bit < kSwitchCount; ++bit) switchFlag(Switch(1u << bit)) = on;
    for (auto member : kIndices) cues.*member = index;
}

}  // namespace

TEST(Timeline, KeysAreSortedAndEveryRowStartsOne) {
    EXPECT_EQ(kKeys[0].fromMs, 0);
    for (size_t i = 1; i < kKeyCount; ++i)
        EXPECT_LT(kKeys[i - 1].fromMs, kKeys[i].fromMs) << "key " << i << " is out of order";
    EXPECT_LT(kKeys[kKeyCount - 1].fromMs, kEndMs);
    // A row with nothing to set still needs its key: it ends what the row
    // before it set.
    for (int32_t row : kRowStartsMs)
        EXPECT_TRUE(std::any_of(std::begin(kKeys), std::end(kKeys), [&](const Key& k) { return k.fromMs == row; }))
            << "no key at the row starting at " << row;
    for (const Key& key : kKeys) {
        EXPECT_EQ((key.on | key.off) >> kSwitchCount, 0u) << "unknown switch at " << key.fromMs;
        EXPECT_EQ(key.on & key.off & ~kSceneBlock, 0u) << "switched on and off at once at " << key.fromMs;
    }
    for (size_t i = 1; i < kSectionCount; ++i) EXPECT_LT(kSections[i - 1].startMs, kSections[i].startMs);
    EXPECT_LT(sectionEndMs(kSectionCount - 2), kEndMs);
    EXPECT_EQ(sectionEndMs(kSectionCount - 1), kEndMs);
}

// At the first and the last millisecond of its stretch each key, and only
// that key, is in force: its switches and indices written, all else kept as
// it was, from two states that differ in everything.
TEST(Timeline, EachKeyHoldsFromItsFirstToItsLastMillisecond) {
    for (size_t k = 0; k < kKeyCount; ++k) {
        const Key& key = kKeys[k];
        const int32_t last = (k + 1 < kKeyCount ? kKeys[k + 1].fromMs : kEndMs) - 1;
        for (int32_t t : {key.fromMs, last})
            for (bool on : {false, true}) {
                const int32_t index = on ? 9 : 7;
                setEverything(on, index);
                applyTimeline(t);
                for (int bit = 0; bit < kSwitchCount; ++bit) {
                    const uint32_t s = 1u << bit;
                    const bool expected = (key.on & s) ? true : (key.off & s) ? false : on;
                    EXPECT_EQ(switchFlag(Switch(s)), expected) << "t = " << t << ", switch bit " << bit;
                }
                for (int i = 0; i < 5; ++i) {
                    const int8_t value = indexOf(key, i);
                    EXPECT_EQ(cues.*kIndices[i], value == kKeep ? index : value) << "t = " << t << ", index " << i;
                }
            }
    }
}

// Nothing records which keys have run: frames either side of the 200 ms
// light ride never see it, and a change inside a row shows only once the
// clock has passed it, not at its own millisecond.
TEST(Timeline, AStretchBetweenTwoFramesIsNeverSeen) {
    resetState();
    applyTimeline(kLightRideMs - 1);
    applyTimeline(kLightRideEndsMs);
    EXPECT_FALSE(cues.cameraFollowsLight);
    applyTimeline(kLightRideMs);
    EXPECT_TRUE(cues.cameraFollowsLight && cues.faceLayer3On);

    resetState();
    applyTimeline(kChessboardFramesMs[0]);
    EXPECT_EQ(cues.chessboardFrame, 0);
    applyTimeline(past(kChessboardFramesMs[0]));
    EXPECT_EQ(cues.chessboardFrame, 3);
    applyTimeline(kClosingCardMs);
    EXPECT_TRUE(!sceneFlags.titleCardOn && cues.titleCardFirst);
    applyTimeline(past(kClosingCardMs));
    EXPECT_TRUE(sceneFlags.titleCardOn && !cues.titleCardFirst);
}

// The ramps step by the clock delta and stop at the first value past their
// limit, without clamping; between the fades the title level is held at 0.
TEST(Timeline, UnclampedRamps) {
    struct Ramp {
        int32_t t;
        float start, delta;
        float TimelineCues::*value;
        float expected;
    };
    const Ramp ramps[] = {
        {100, 0.0f, 16.0f, &TimelineCues::titleFadeLevel, 0.0016f},
        {100, 0.9995f, 16.0f, &TimelineCues::titleFadeLevel, 1.0011f},  // passes 1 once
        {kCardFadesMs - 1, 1.0011f, 16.0f, &TimelineCues::titleFadeLevel, 1.0011f},  // then stops
        {kCardFadesMs, 0.5f, 20.0f, &TimelineCues::titleFadeLevel, 0.49f},
        {kRadialMs - 1, 0.004f, 20.0f, &TimelineCues::titleFadeLevel, -0.006f},  // below 0 once
        {kRadialMs - 1, -0.006f, 20.0f, &TimelineCues::titleFadeLevel, -0.006f},
        {kRadialMs, 0.3f, 20.0f, &TimelineCues::titleFadeLevel, 0.0f},
        {kWindowMs, 0.3f, 20.0f, &TimelineCues::titleFadeLevel, 0.3f},
        {kClosingMs - 1, 0.8f, 50.0f, &TimelineCues::letterboxEdge, 0.8f},
        {kClosingMs, 0.8f, 50.0f, &TimelineCues::letterboxEdge, 0.795f},
        {kEndMs - 1, -0.7f, 100.0f, &TimelineCues::letterboxEdge, -0.71f},  // no lower limit
        {kClosingCardMs, 0.5f, 10.0f, &TimelineCues::titleFadeLevel, 0.5f},
        {past(kClosingCardMs), 0.99995f, 10.0f, &TimelineCues::titleFadeLevel, 1.00095f},
    };
    for (const Ramp& ramp : ramps) {
        resetState();
        cues.*ramp.value = ramp.start;
        frameDeltaMs = ramp.delta;
        applyTimeline(ramp.t);
        EXPECT_NEAR(cues.*ramp.value, ramp.expected, 1e-6) << "t = " << ramp.t << " from " << ramp.start;
    }
}

// Within the seeding stretches every call takes 60 draws from the shared
// generator and marks up to 20 cells (fewer where draws repeat a cell) with
// 0.5; outside them, and at their ends, nothing is drawn.
TEST(Timeline, SeedingOnlyWithinItsStretches) {
    struct Case {
        int32_t t;
        bool seeds;
    };
    const Case cases[] = {
        {kSeedingMs - 1, false},      {kSeedingMs, true},        {kSeedingEndsMs - 1, true},
        {kSeedingEndsMs, false},      {kReseedingMs - 1, false}, {kReseedingMs, true},
        {kReseedingEndsMs - 1, true}, {kReseedingEndsMs, false}, {kWanderStopsMs, false},
        {past(kWanderStopsMs), true}, {kVolumeHeldMs - 1, true}, {kVolumeHeldMs, false},
    };
    for (const Case& c : cases) {
        resetState();
        applyTimeline(c.t);
        EXPECT_EQ(randomState, testgen::stateAfter(1, c.seeds ? 60 : 0)) << "t = " << c.t;
        const auto seeded = std::count(std::begin(volumeGrid), std::end(volumeGrid), 0.5f);
        const auto empty = std::count(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);
        EXPECT_EQ(seeded + empty, kVolumeCells) << "t = " << c.t;
        if (c.seeds) {
            EXPECT_GE(seeded, 15) << "t = " << c.t;
            EXPECT_LE(seeded, 20) << "t = " << c.t;
        } else {
            EXPECT_EQ(seeded, 0) << "t = " << c.t;
        }
    }
}

TEST(Timeline, SharedGeneratorSequence) {
    randomState = 1;
    // state = state * 214013 + 2531011; result = (state >> 16) & 0x7fff
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int value : expected) EXPECT_EQ(nextRandom(), value);
}

TEST(TimelineDeathTest, EndsAtTheScheduleEndAndNotBefore) {
    resetState();
    applyTimeline(kEndMs - 1);  // still alive
    EXPECT_EXIT(applyTimeline(kEndMs), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(applyTimeline(2000000000), testing::ExitedWithCode(0), "");
}
