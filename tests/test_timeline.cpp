// The schedule, one call at a time. (The title card tests step it through
// whole runs to the cards' moments.)
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "shell/demo_state.h"
#include "shell/timeline.h"

namespace {

void resetState() {
    sceneFlags = SceneFlags{};
    cues = TimelineCues{};
    std::fill(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);
    randomState = 1;
    frameDeltaMs = 0;
}

// One call at t from a state that is the initial state with `setup` applied.
struct Probe {
    int32_t t;
    std::function<void()> setup;
    std::function<bool()> expect;
    const char* what;
};

bool blockOff() {
    return !sceneFlags.titleCardOn && !sceneFlags.radialOverlayOn && !sceneFlags.displacedSceneOn &&
           !sceneFlags.windowSceneOn && !sceneFlags.halftoneSceneOn && !sceneFlags.volumeSceneOn &&
           !sceneFlags.floorSceneOn;
}

void allOn() { sceneFlags = SceneFlags{true, true, true, true, true, true, true, true, true}; }

}  // namespace

TEST(Timeline, RowsAndInnerMarks) {
    auto none = [] {};
    const std::vector<Probe> probes = {
        {0, none, [] { return sceneFlags.titleCardOn && cues.faceLayer3On; }, "opening card on"},
        {16000, [] { cues.faceLayer3On = true; }, [] { return !cues.faceLayer3On; }, "layer 3 off at 16000"},
        {18000, [] { sceneFlags.titleCardOn = true; cues.titleFadeLevel = 0.3f; },
         [] { return !sceneFlags.titleCardOn && cues.titleFadeLevel == 0 && sceneFlags.radialOverlayOn; },
         "card off, radial on"},
        {25700, none, [] { return sceneFlags.windowSceneOn && cues.windowMeshIndex == 0; }, "window, mesh 0 kept"},
        {26200, [] { cues.windowMeshIndex = 1; }, [] { return cues.windowMeshIndex == 1; }, "26200 is not > 26200"},
        {34800, none, [] { return sceneFlags.chessboardOverlayOn && cues.chessboardFrame == 0; }, "chess on"},
        {35000, [] { cues.chessboardFrame = 2; }, [] { return cues.chessboardFrame == 2; }, "35000 unchanged"},
        {37500, [] { allOn(); cues.barsHorizontal = false; },
         [] {
             return !sceneFlags.radialOverlayOn && !sceneFlags.chessboardOverlayOn && !cues.windowShowsMesh &&
                    sceneFlags.windowSceneOn && sceneFlags.displacedSceneOn && cues.windowElementIndex == 1 &&
                    cues.barsHorizontal;
         },
         "displaced and window with bars"},
        {45800, none,
         [] { return cues.windowMeshIndex == 3 && !cues.barsHorizontal && cues.windowPulseOn; }, "pulse on"},
        {47000, none, [] { return cues.windowPulseOn; }, "pulse still on at 47000"},
        {47001, [] { cues.windowPulseOn = true; }, [] { return !cues.windowPulseOn; }, "pulse off"},
        {54800, allOn,
         [] {
             return sceneFlags.volumeSceneOn && !sceneFlags.titleCardOn && !sceneFlags.windowSceneOn &&
                    !sceneFlags.displacedSceneOn && !sceneFlags.floorSceneOn && sceneFlags.chessboardOverlayOn &&
                    sceneFlags.faceOverlayOn;
         },
         "clear keeps the last two flags"},
        {66500, [] { cues.brushCircleOn = true; },
         [] { return sceneFlags.volumeSceneOn && cues.brushWanderOn && !cues.brushCircleOn && cues.brushCamera; },
         "wander with brush camera"},
        {69000, none, [] { return cues.brushCamera; }, "brush camera at 69000"},
        {69001, none, [] { return !cues.brushCamera; }, "brush camera off"},
        {73000, none,
         [] { return cues.cameraIndex == 3 && cues.brushCircleOn && !cues.brushCamera; }, "circle"},
        {75001, none, [] { return cues.brushCamera && cues.brushCircleOn; }, "circle with brush camera"},
        {76001, none, [] { return cues.brushCamera && !cues.brushCircleOn; }, "circle done"},
        {81800, none, [] { return cues.brushCamera && !cues.brushCircleOn; }, "81800 brush camera"},
        {82701, none, [] { return !cues.brushCamera && cues.cameraIndex == 4; }, "camera 4"},
        {86800, allOn, [] { return blockOff() && sceneFlags.faceOverlayOn; }, "the break"},
        {89000, [] { cues.brushWanderOn = true; },
         [] { return blockOff() && cues.brushWanderOn && !cues.brushCamera; }, "break until 89000 inclusive"},
        {89001, [] { cues.brushWanderOn = true; },
         [] { return sceneFlags.volumeSceneOn && !cues.brushWanderOn && cues.brushCamera; }, "the return"},
        {90000, none, [] { return cues.brushWanderOn; }, "wander again"},
        {95000, none, [] { return !cues.brushWanderOn; }, "95000 leaves wander alone"},
        {95001, none, [] { return cues.brushWanderOn; }, "wander after 95000"},
        {116300, none, [] { return cues.brushWanderOn && cues.brushCamera; }, "seed and brush camera"},
        {119300, [] { cues.brushCamera = true; }, [] { return !cues.brushCamera && cues.brushCircleOn; }, "circle"},
        {131001, [] { cues.brushWanderOn = true; }, [] { return !cues.brushWanderOn; }, "wander stops"},
        {136500, [] { allOn(); cues.cameraIndex = 5; },
         [] { return sceneFlags.volumeSceneOn && cues.cameraIndex == 5; }, "136000 row does nothing"},
        {137000, allOn,
         [] {
             return sceneFlags.halftoneSceneOn && sceneFlags.faceOverlayOn && !sceneFlags.volumeSceneOn &&
                    cues.cameraIndex == 4 && cues.halftoneMeshIndex == 1;
         },
         "halftone"},
        {187199, none, [] { return !cues.cameraFollowsLight; }, "before the short row"},
        {187200, none, [] { return cues.cameraFollowsLight && cues.faceLayer3On; }, "the 200 ms row"},
        {187399, none, [] { return cues.cameraFollowsLight; }, "still in the short row"},
        {187400, none, [] { return !cues.cameraFollowsLight; }, "after the short row nothing is set"},
        {209200, allOn,
         [] { return sceneFlags.floorSceneOn && !sceneFlags.halftoneSceneOn && cues.faceLayer3On; }, "floor"},
        {230000, [] { cues.letterboxEdge = 0.5f; }, [] { return cues.letterboxEdge == 0.5f; }, "221000 row idle"},
        {250000, none, [] { return !sceneFlags.titleCardOn && cues.titleCardFirst; }, "250000 is not > 250000"},
        {250001, none,
         [] { return sceneFlags.titleCardOn && !cues.titleCardFirst && cues.titleFadeLevel == 0; },
         "closing card on"},
    };
    for (const Probe& probe : probes) {
        resetState();
        probe.setup();
        applyTimeline(probe.t);
        EXPECT_TRUE(probe.expect()) << "t = " << probe.t << ": " << probe.what;
    }
    // The counters stepped by the inner marks: value at t, from the initial state.
    struct Steps {
        int32_t TimelineCues::*cue;
        std::vector<std::pair<int32_t, int32_t>> valueAt;
    } const steps[] = {
        {&TimelineCues::windowMeshIndex, {{26201, 2}, {28800, 2}, {28801, 3}, {31001, 1}, {32000, 1}, {32001, 2}}},
        {&TimelineCues::chessboardFrame, {{35001, 3}, {35501, 2}, {36101, 1}, {36300, 1}, {36301, 0}}},
        {&TimelineCues::cameraIndex,
         {{83001, 5}, {84601, 3}, {120200, 3}, {125001, 4}, {130001, 2}, {140200, 4}, {144800, 2}, {152801, 1},
          {156801, 3}, {160801, 2}, {165000, 5}, {171000, 4}}},
        {&TimelineCues::halftoneMeshIndex,
         {{140200, 0}, {144800, 0}, {152801, 1}, {156801, 0}, {160801, 1}, {165000, 1}, {171000, 0}}},
    };
    for (const Steps& step : steps)
        for (const auto& [t, value] : step.valueAt) {
            resetState();
            applyTimeline(t);
            EXPECT_EQ(cues.*step.cue, value) << "t = " << t;
        }
}

// The ramps step by the clock delta and stop at the first value past their
// limit, without clamping.
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
        {100, 1.0011f, 16.0f, &TimelineCues::titleFadeLevel, 1.0011f},  // then stops
        {17000, 0.5f, 20.0f, &TimelineCues::titleFadeLevel, 0.49f},
        {17000, 0.004f, 20.0f, &TimelineCues::titleFadeLevel, -0.006f},  // below 0 once
        {17000, -0.006f, 20.0f, &TimelineCues::titleFadeLevel, -0.006f},
        {245000, 0.8f, 50.0f, &TimelineCues::letterboxEdge, 0.795f},
        {259999, -0.7f, 100.0f, &TimelineCues::letterboxEdge, -0.71f},  // no lower limit
        {255000, 0.99995f, 10.0f, &TimelineCues::titleFadeLevel, 1.00095f},
    };
    for (const Ramp& ramp : ramps) {
        resetState();
        cues.*ramp.value = ramp.start;
        frameDeltaMs = ramp.delta;
        applyTimeline(ramp.t);
        EXPECT_NEAR(cues.*ramp.value, ramp.expected, 1e-6) << "t = " << ramp.t << " from " << ramp.start;
    }
}

// Each seeding call takes 60 draws from the shared generator, x then y then
// z, and marks those cells with 0.5.
TEST(Timeline, SeedingDrawsFromTheSharedGenerator) {
    for (int32_t t : {91000, 96999, 116300, 117999, 131001}) {
        resetState();
        applyTimeline(t);
        randomState = 1;
        std::vector<float> expected(kVolumeCells, 0.0f);
        for (int i = 0; i < 20; ++i) {
            const int x = nextRandom() % 30, y = nextRandom() % 30, z = nextRandom() % 30;
            expected[(x * 30 + y) * 30 + z] = 0.5f;
        }
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), volumeGrid)) << "t = " << t;
    }
    for (int32_t t : {97000, 100000, 118000, 131000, 90500}) {
        resetState();
        applyTimeline(t);
        EXPECT_EQ(randomState, 1u) << "no draws at t = " << t;
    }
}

TEST(Timeline, SharedGeneratorSequence) {
    randomState = 1;
    // state = state * 214013 + 2531011; result = (state >> 16) & 0x7fff
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int value : expected) EXPECT_EQ(nextRandom(), value);
}

TEST(TimelineDeathTest, EndsAt260000AndNotBefore) {
    resetState();
    applyTimeline(259999);  // still alive
    EXPECT_EXIT(applyTimeline(260000), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(applyTimeline(2000000000), testing::ExitedWithCode(0), "");
}
