// The per-frame updates of the effects, where a slip changes what is seen:
// the square grid's wrap, the bars' rebirths on the shared generator, the
// window pulse, the displacement field and the cube volume's brush rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/mesh.h"
#include "scenes/bars.h"
#include "scenes/displaced_scene.h"
#include "scenes/square_grid.h"
#include "scenes/volume_scene.h"
#include "scenes/window_scene.h"
#include "state/demo_state.h"
#include "shell/timeline.h"
#include "test_generator_util.h"

namespace {

using testgen::drawsFrom;

float& cell(int i, int j, int k) { return volumeGrid[(i * kVolumeSide + j) * kVolumeSide + k]; }

void resetVolume() {
    std::fill(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);
    cues = TimelineCues{};
    brushAngle = 0.0f;
    std::fill(std::begin(brushPoint), std::end(brushPoint), 0.0f);
}

}  // namespace

// Start-up: the grid takes the first 1200 draws, the bars the next 40, each
// phase (draw mod 1000) thousandths.
TEST(EffectUpdates, GridThenBarsDrawInOrderAtStartup) {
    uint32_t state = randomState = 7;
    const std::vector<int> draws = drawsFrom(state, 1240);
    initSquareGrid();
    initBars();
    for (int i : {0, 1199}) EXPECT_EQ(squareGridPhases[i], float(draws[i] % 1000) * 0.001f);
    for (int i : {0, 39}) EXPECT_EQ(barPhases[i], float(draws[1200 + i] % 1000) * 0.001f);
    EXPECT_EQ(randomState, state);
}

// A phase that reaches or passes 1.0 is shown at full level for one frame and
// restarts at 0 on the next update; it never stays above 1 for two updates.
TEST(EffectUpdates, SquareGridWrapsAfterOneFullFrame) {
    struct Case {
        float start;
        float afterOne, afterTwo;
    };
    const Case cases[] = {{0.5f, 0.51f, 0.52f}, {0.99f, 1.0f, 0.0f}, {0.995f, 1.005f, 0.0f},
                          {1.0f, 0.0f, 0.01f}, {1.02f, 0.0f, 0.01f}, {0.0f, 0.01f, 0.02f}};
    for (const Case& c : cases) {
        std::fill(std::begin(squareGridPhases), std::end(squareGridPhases), c.start);
        updateSquareGrid();
        EXPECT_NEAR(squareGridPhases[0], c.afterOne, 1e-6) << c.start;
        if (squareGridPhases[0] >= 1.0f) {
            EXPECT_GT(std::sin(squareGridPhases[0] * 1.57075f), 0.9999f) << "shown at full level";
        }
        updateSquareGrid();
        EXPECT_NEAR(squareGridPhases[1199], c.afterTwo, 1e-6) << c.start;
    }
}

// Completed bars are reborn in index order with one draw each, at phase 0 and
// without advancing; the others advance by rate / 10000, or not at all at a
// rate of 0. Offsets are (draw mod 1000) * 0.004 - 2.
TEST(EffectUpdates, BarsRebornInOrderFromTheSharedGenerator) {
    for (float rate : {0.0f, 250.0f}) {
        std::fill(std::begin(barPhases), std::end(barPhases), 0.25f);
        std::fill(std::begin(barOffsets), std::end(barOffsets), 0.0f);
        barPhases[3] = 1.0f;
        barPhases[7] = 1.3f;
        uint32_t state = randomState = 99;
        const std::vector<int> draws = drawsFrom(state, 2);
        updateBars(rate);
        EXPECT_TRUE(barPhases[3] == 0.0f && barPhases[7] == 0.0f);
        EXPECT_FLOAT_EQ(barOffsets[3], float(draws[0] % 1000) * 0.004f - 2.0f);
        EXPECT_FLOAT_EQ(barOffsets[7], float(draws[1] % 1000) * 0.004f - 2.0f);
        EXPECT_EQ(barOffsets[4], 0.0f) << "offsets change only at rebirth";
        EXPECT_FLOAT_EQ(barPhases[0], 0.25f + rate * 0.0001f);
        EXPECT_EQ(randomState, state) << "one draw per rebirth";
        // The colour follows bar 0: red = (cos(90 p degrees) + 1) / 2.
        EXPECT_NEAR(barColor[0], (std::cos(90.0 * barPhases[0] * kDegToRad) + 1) * 0.5, 1e-6);
    }
}

// With the pulse on, eleven frames of equal rate turn the spin by 1 : 2 : ...
// : 11 times the base step, and the twelfth is back to 1. Off, the step is
// exactly rate / 2 and the pulse stays 0.
TEST(EffectUpdates, WindowPulseRunsAnElevenFrameCycle) {
    cues = TimelineCues{};
    windowPulse = windowSpin = 0.0f;
    cues.windowPulseOn = true;
    std::vector<float> steps;
    for (int frame = 0; frame < 12; ++frame) {
        const float before = windowSpin;
        updateWindowScene(2.0f);
        steps.push_back(windowSpin - before);
    }
    for (int frame = 0; frame < 11; ++frame) EXPECT_NEAR(steps[frame], frame + 1.0f, 1e-4) << frame;
    EXPECT_NEAR(steps[11], 1.0f, 1e-6);

    cues.windowPulseOn = false;
    updateWindowScene(8.0f);
    EXPECT_EQ(windowPulse, 0.0f);
    windowSpin = 1000.0f;
    updateWindowScene(8.0f);
    EXPECT_EQ(windowSpin, 1004.0f);
}

// Each value climbs by its target a while at or below 0 and, once positive,
// closes half the gap to a per frame: -10 goes -10 + a, -10 + 2a, then
// halves. Over meshI with the demo's source point everything settles between
// about 4.75 and 5.
TEST(EffectUpdates, DisplacementClimbsThenHalvesTheGap) {
    const float vertex[3] = {0.0f, 0.0f, 0.0f};
    const float a = displacementTarget(std::sqrt(3.0f) * 40.0f);
    struct Case {
        float start;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {-10.0f, {-10 + a, -10 + 2 * a, (-10 + 3 * a) / 2, ((-10 + 3 * a) / 2 + a) / 2}},
        {0.0f, {a / 2, 0.75f * a, 0.875f * a}},
    };
    for (const Case& c : cases) {
        float v = c.start;
        for (float expected : c.expected) {
            updateDisplacement(&v, vertex, 1, 40.0f, 40.0f, 40.0f);
            EXPECT_NEAR(v, expected, 1e-5) << "from " << c.start;
        }
    }

    std::vector<float> field(kMeshIVertexCount, 0.0f);
    for (int frame = 0; frame < 40; ++frame)
        updateDisplacement(field.data(), meshI.vertices, kMeshIVertexCount, 20000, 20000, 20000);
    for (int k = 0; k < kMeshIVertexCount; ++k) {
        const float* p = meshI.vertices + 3 * k;
        const float d = std::sqrt(3 * 20000.0f * 20000.0f - 40000 * (p[0] + p[1] + p[2]) +
                                  (p[0] * p[0] + p[1] * p[1] + p[2] * p[2]));
        ASSERT_NEAR(field[k], displacementTarget(d), 1e-3) << "vertex " << k;
        ASSERT_TRUE(field[k] > 4.5f && field[k] < 5.001f) << field[k];
    }
}

// The brush rules, one frame each from a chosen state. Cells are at
// (i - 15, j - 15, k - 15); the brush at the origin sits on cell (15, 15, 15).
TEST(EffectUpdates, VolumeGrowthAndDecayRules) {
    // d = 0: the distance rule's step of 1000 is refused, so no growth.
    resetVolume();
    cues.brushWanderOn = false;
    cell(15, 15, 15) = 0.3f;
    updateVolumeScene(0.0f, 0.0f);
    EXPECT_EQ(cell(15, 15, 15), 0.3f);
    EXPECT_FLOAT_EQ(cell(16, 15, 15), 1.0f / 2.001f) << "d = 1 grows by 1 / (2d + 0.001)";
    EXPECT_EQ(cell(18, 15, 15), 0.0f) << "d = 3 is outside the brush";

    // A step that would reach 1.0 or more is refused: no cell reaches 1.
    resetVolume();
    cell(16, 15, 15) = 0.6f;
    for (int frame = 0; frame < 5; ++frame) updateVolumeScene(0.0f, 0.0f);
    EXPECT_FLOAT_EQ(cell(16, 15, 15), 0.6f);
    EXPECT_LT(*std::max_element(std::begin(volumeGrid), std::end(volumeGrid)), 1.0f);

    // Decay: 0.001 per unit of rate, stopping at 0; a rate of 0 freezes.
    resetVolume();
    brushPoint[0] = -100.0f;  // far from every cell
    cell(0, 0, 0) = 0.05f;
    cell(1, 0, 0) = 0.5f;
    updateVolumeScene(0.0f, 0.0f);
    EXPECT_EQ(cell(1, 0, 0), 0.5f);
    updateVolumeScene(0.0f, 100.0f);
    EXPECT_TRUE(cell(0, 0, 0) == 0.0f && std::abs(cell(1, 0, 0) - 0.4f) < 1e-6);

    // Circling: fixed steps of 0.05 below 354 degrees, the distance rule from
    // 354 on, no decay at all, and the brush stands still past 355. Cell
    // (23, 14, 15), at (8, -1, 0), is about 1.95 from the brush at 353 and 354.
    resetVolume();
    cues.brushCircleOn = true;
    brushAngle = 348.0f;
    cell(0, 0, 0) = 0.5f;
    updateVolumeScene(0.0f, 25.0f);  // +5 degrees
    EXPECT_FLOAT_EQ(brushAngle, 353.0f);
    EXPECT_TRUE(std::abs(brushPoint[0] - 10 * std::cos(353 * kDegToRad)) < 1e-5 && brushPoint[2] == 0.0f);
    EXPECT_FLOAT_EQ(cell(23, 14, 15), 0.05f);
    updateVolumeScene(0.0f, 5.0f);  // to 354
    const double d = std::hypot(8.0 - brushPoint[0], -1.0 - brushPoint[1]);
    EXPECT_NEAR(cell(23, 14, 15), 0.05 + 1 / (2 * d + 0.001), 1e-5);
    EXPECT_EQ(cell(0, 0, 0), 0.5f) << "nothing decays while circling";
    brushAngle = 355.0f;
    const float x = brushPoint[0];
    updateVolumeScene(0.0f, 50.0f);
    EXPECT_EQ(brushAngle, 355.0f);
    EXPECT_EQ(brushPoint[0], x);

    // Wandering resets the angle and follows the clock (degrees).
    cues.brushWanderOn = true;
    cues.brushCircleOn = false;
    updateVolumeScene(100.0f, 0.0f);
    EXPECT_EQ(brushAngle, 0.0f);
    EXPECT_NEAR(brushPoint[2], 12 * std::sin(100 * kDegToRad), 1e-5);
    EXPECT_NEAR(volumeTilt, 20 * std::cos(70 * kDegToRad), 1e-5);
}
