// The start-up sequence's GL state and the frame loop's per-frame values,
// run in the offscreen context with the stepped clock over the short test
// track (silence, a bin-100 tone from 0.5 s, a bin-250 tone from 1.5 s).
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "audio/music.h"
#include "offscreen_gl.h"
#include "state/demo_state.h"
#include "shell/frame.h"
#include "shell/frame_pacing.h"
#include "shell/startup.h"
#include "shell/timeline.h"
#include "render/picture_layout.h"
#include "shell/window.h"
#include "window_offscreen.h"

namespace {

class FrameLoop : public testing::Test {
protected:
    // One context and one start-up per process; every test starts from the
    // initial shared state and a freshly opened stream.
    void SetUp() override {
        static bool started = false;
        if (!started) {
            ASSERT_EQ(chdir(TESSERA_TESTDATA_DIR "/demo"), 0);
            std::string reason;
            ASSERT_TRUE(offscreenCreate(640, 480, &reason)) << reason;
            musicUseSteppedClock();
            runStartup();
            started = true;
        }
        musicClose(musicStream);
        musicStream = musicOpen(kMusicPath);
        musicSetTime(musicStream, 0);
        musicPlay(musicStream);
        musicEnableSpectrum();
        sceneFlags = SceneFlags{};
        cues = TimelineCues{};
        bands = SpectrumBands{};
        musicTimeMs = prevMusicTimeMs = frameDeltaMs = 0;
        offscreenPresentHook = nullptr;
    }

    static void frameAt(int ms) {
        musicSetSteppedTime(ms);
        runFrame();
    }
};

void expectMatrix(GLenum which, const GLdouble* expected, const char* what) {
    GLdouble actual[16];
    glGetDoublev(which, actual);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-6) << what << " element " << i;
}

}  // namespace

// What start-up leaves for the first frame: the music open, the volume
// empty, and the few settings every later pass takes for granted rather than
// sets (the lights, colours and projection it also sets show in every
// reference frame).
TEST_F(FrameLoop, StartupLeavesTheStateEverySceneReliesOn) {
    musicClose(musicStream);
    volumeGrid[123] = 1.0f;
    runStartup();
    EXPECT_NE(musicStream, nullptr);
    EXPECT_NE(spectrum, nullptr);
    EXPECT_EQ(std::count(std::begin(volumeGrid), std::end(volumeGrid), 0.0f), kVolumeCells);

    struct Capability {
        GLenum cap;
        bool on;
        const char* name;
    };
    for (Capability c : {Capability{GL_DEPTH_TEST, true, "depth test"}, {GL_CULL_FACE, true, "culling"},
                         {GL_STENCIL_TEST, true, "stencil test"}, {GL_LIGHTING, false, "lighting"},
                         {GL_BLEND, false, "blending"}, {GL_TEXTURE_2D, false, "texturing"}})
        EXPECT_EQ(glIsEnabled(c.cap) == GL_TRUE, c.on) << c.name;
    GLint value = 0;
    glGetIntegerv(GL_STENCIL_VALUE_MASK, &value);
    EXPECT_EQ(value, 0) << "with mask 0 the stencil test passes everywhere";
    glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_MODELVIEW);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_TRUE(viewport[0] == 0 && viewport[1] == 0 && viewport[2] == 640 && viewport[3] == 480);
    const GLdouble identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    expectMatrix(GL_MODELVIEW_MATRIX, identity, "modelview");
}

// The clock is read once per frame, the title a second time; the bands a
// frame draws with were read at the end of the previous update.
TEST_F(FrameLoop, ClockTitleAndBandsOneFrameLate) {
    static float drawnBand100[3];
    static int presented = 0;
    presented = 0;
    offscreenPresentHook = [] { drawnBand100[presented++] = bands.band100; };

    frameAt(1000);
    EXPECT_EQ(musicTimeMs, 1000.0f);
    EXPECT_EQ(prevMusicTimeMs, 0.0f);
    EXPECT_EQ(frameDeltaMs, 1000.0f);
    EXPECT_STREQ(titleText, "1000");
    EXPECT_STREQ(offscreenTitle, "1000");
    EXPECT_NEAR(bands.band100, 0.5f, 0.02f) << "the tone at bin 100";
    EXPECT_LT(bands.band250, 0.01f);

    frameAt(1000);
    EXPECT_EQ(frameDeltaMs, 0.0f) << "a clock that stands still gives a zero step";

    frameAt(2000);
    EXPECT_EQ(frameDeltaMs, 1000.0f);
    EXPECT_NEAR(bands.band250, 0.5f, 0.02f);
    EXPECT_LT(bands.band100, 0.01f);

    ASSERT_EQ(presented, 3);
    EXPECT_EQ(drawnBand100[0], 0.0f) << "the first frame draws before any band is read";
    EXPECT_NEAR(drawnBand100[1], 0.5f, 0.02f);
    EXPECT_NEAR(drawnBand100[2], 0.5f, 0.02f) << "the frame drawn at 2000 ms still has the 1000 ms bands";
}

TEST_F(FrameLoop, TheFirstFrameAtTheScheduleEndExits) {
    frameAt(schedule::kEndMs - 1);
    EXPECT_EXIT(frameAt(schedule::kEndMs), testing::ExitedWithCode(0), "");
}

TEST(PictureRect, LargestCentredFourByThree) {
    struct Case {
        int w, h;
        PictureRect expected;
    };
    const Case cases[] = {
        {640, 480, {0, 0, 640, 480}},       {1024, 768, {0, 0, 1024, 768}},
        {1920, 1080, {240, 0, 1440, 1080}}, {1280, 1024, {0, 32, 1280, 960}},
        {641, 480, {0, 0, 640, 480}},       {2560, 1440, {320, 0, 1920, 1440}},
        {480, 640, {0, 140, 480, 360}},
    };
    for (const Case& c : cases) {
        PictureRect r = fitPictureRect(c.w, c.h);
        EXPECT_EQ(r.x, c.expected.x) << c.w << "x" << c.h;
        EXPECT_EQ(r.y, c.expected.y) << c.w << "x" << c.h;
        EXPECT_EQ(r.width, c.expected.width) << c.w << "x" << c.h;
        EXPECT_EQ(r.height, c.expected.height) << c.w << "x" << c.h;
    }
}

// The player's frame cap: starts on a fixed 60 Hz grid, at once when a slot
// has passed, re-anchored after a stall of more than a frame; no cap at 0.
TEST(FrameGrid, StartsOnTheGridCatchesUpOnceAndReanchors) {
    constexpr int64_t ms = 1000000, t0 = 5 * ms;
    const auto slot = [](int64_t anchor, int64_t k) { return anchor + k * 1000000000 / 60; };
    FrameGrid grid;
    struct Step {
        int64_t now, start;
        const char* what;
    } steps[] = {
        {t0, t0, "the first frame anchors the grid"},
        {t0 + 5 * ms, slot(t0, 1), "an early frame waits for slot 1"},
        {slot(t0, 1) + 2 * ms, slot(t0, 2), "and the next for slot 2"},
        {slot(t0, 3) + 10 * ms, slot(t0, 3) + 10 * ms, "a frame late by less than a frame starts at once"},
        {slot(t0, 3) + 11 * ms, slot(t0, 4), "and the grid is kept: slot 4"},
        {slot(t0, 5) + 20 * ms, slot(t0, 5) + 20 * ms, "more than a frame late: start now, re-anchor"},
        {slot(t0, 5) + 21 * ms, slot(slot(t0, 5) + 20 * ms, 1), "one period after the new anchor"},
    };
    for (const Step& step : steps) EXPECT_EQ(nextFrameStart(grid, step.now, 60), step.start) << step.what;
    for (int64_t now : {int64_t(0), 7 * ms, 7 * ms}) EXPECT_EQ(nextFrameStart(grid, now, 0), now) << "no cap";
}

TEST(FrameGrid, AveragesSixtyOnFastDisplaysWithoutDrift) {
    // A display at 144 Hz with vertical sync: a frame drawn in 3 ms shows at
    // the next refresh after it, and the loop asks for the following frame
    // then. Over 100 s the grid's 6000 slots are all used, exactly.
    for (int hz : {60, 75, 120, 144}) {
        FrameGrid grid;
        const int64_t refresh = 1000000000 / hz;
        int64_t now = 0;
        int frames = 0;
        while (now < 100000000000) {
            const int64_t start = nextFrameStart(grid, now, 60);
            ++frames;
            now = ((start + 3000000) / refresh + 1) * refresh;  // swapped at the next refresh
        }
        EXPECT_NEAR(frames, 6000, 1) << hz << " Hz";
        EXPECT_EQ(grid.anchorNs + 6000 * int64_t(1000000000) / 60, 100000000000) << hz << " Hz: the grid drifted";
    }
}
