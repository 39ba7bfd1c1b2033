// Title cards, drawn as the frame loop draws them (modelview pushed and moved
// back by 1) under the start-up projection, with the schedule stepped to the
// moments the cards are on screen.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "overlays/title_card.h"
#include "render/texture.h"
#include "state/demo_state.h"
#include "shell/timeline.h"
#include "test_texture_util.h"

using namespace testpics;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
// Half the card's extent in normalised device coordinates: the 2 x 2 card at
// distance 1.5 under a 120-degree field of view.
const double kCardHalf = 1.0 / (1.5 * std::tan(60.0 * M_PI / 180.0));

// Bilinear sample of a picture at continuous coordinates (pixel centres at +0.5).
void sample(const Picture& p, double x, double y, double out[3]) {
    x = std::clamp(x - 0.5, 0.0, p.width - 1.0);
    y = std::clamp(y - 0.5, 0.0, p.height - 1.0);
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const int x1 = std::min(x0 + 1, p.width - 1), y1 = std::min(y0 + 1, p.height - 1);
    const double fx = x - x0, fy = y - y0;
    for (int k = 0; k < 3; ++k)
        out[k] = (p.at(x0, y0)[k] * (1 - fx) + p.at(x1, y0)[k] * fx) * (1 - fy) +
                 (p.at(x0, y1)[k] * (1 - fx) + p.at(x1, y1)[k] * fx) * fy;
}

// The schedule's globals, put back as they were when a test ends.
struct SavedSchedule {
    SceneFlags flags = sceneFlags;
    TimelineCues savedCues = cues;
    float delta = frameDeltaMs;
    uint32_t random = randomState;
    std::vector<float> grid{std::begin(volumeGrid), std::end(volumeGrid)};
    ~SavedSchedule() {
        sceneFlags = flags;
        cues = savedCues;
        frameDeltaMs = delta;
        randomState = random;
        std::copy(grid.begin(), grid.end(), volumeGrid);
    }
};

class TitleCard : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        ASSERT_TRUE(offscreenCreate(kWidth, kHeight, &reason)) << reason;
        // Smooth pictures that differ everywhere and show any flip; intro's
        // blue rises so steeply over the last 96 columns that showing the
        // hundredth the card leaves out would be seen.
        intro = makePicture(640, 480, [](int x, int y, uint8_t* c) {
            c[0] = uint8_t(x * 255 / 639), c[1] = uint8_t(y * 255 / 479);
            c[2] = uint8_t(x < 544 ? 0 : (x - 544) * 255 / 95);
        });
        who = makePicture(800, 600, [](int x, int y, uint8_t* c) {
            c[0] = 40, c[1] = uint8_t(255 - x * 255 / 799), c[2] = uint8_t(255 - y * 255 / 599);
        });
        ASSERT_TRUE(writeJpeg(dir.file("intro.jpg"), intro));
        ASSERT_TRUE(writeJpeg(dir.file("who.jpg"), who));
        ASSERT_EQ(loadTexture(dir.file("intro.jpg").c_str(), &introTexture), 1);
        ASSERT_EQ(loadTexture(dir.file("who.jpg").c_str(), &whoTexture), 1);
        startupState();
    }
    void TearDown() override {
        glDeleteTextures(1, &introTexture);
        glDeleteTextures(1, &whoTexture);
        introTexture = whoTexture = 0;
        glColor3f(1, 1, 1);
        glClearColor(0, 0, 0, 0);
    }

    // The state the start-up sequence leaves: perspective 120, aspect 1,
    // 640 x 480 viewport, depth test and back-face culling on, stencil test
    // on with a mask that lets everything through.
    static void startupState() {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(120, 1.0, 0.01, 200);
        glViewport(0, 0, kWidth, kHeight);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        for (GLenum cap : {GL_DEPTH_TEST, GL_CULL_FACE, GL_STENCIL_TEST}) glEnable(cap);
        for (GLenum cap : {GL_LIGHTING, GL_BLEND, GL_TEXTURE_2D}) glDisable(cap);
        glStencilFunc(GL_EQUAL, 1, 0);
        glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    }
    static void clearFrame(float grey) {
        glClearColor(grey, grey, grey, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
    // The frame loop's slot for the card.
    static void drawSlot() {
        glPushMatrix();
        glTranslatef(0, 0, -1);
        drawTitleCard();
        glPopMatrix();
    }
    // Steps the schedule from the start to `untilMs` as a steady 50 fps run.
    static void runScheduleTo(int untilMs) {
        sceneFlags = SceneFlags{};
        cues = TimelineCues{};
        for (int t = 20; t <= untilMs; t += 20) {
            frameDeltaMs = 20;
            applyTimeline(t);
        }
    }
    // Largest channel difference between the card (every 7th pixel, away from
    // its edges) and the picture scaled by `level`.
    static int worstDifference(const std::vector<uint8_t>& frame, const Picture& p, double level) {
        int worst = 0;
        for (int py = 0; py < kHeight; py += 7)
            for (int px = 0; px < kWidth; px += 7) {
                const double u = ((px + 0.5) / (kWidth / 2.0) - 1) / kCardHalf;    // -1..1 across the card
                const double v = (1 - (py + 0.5) / (kHeight / 2.0)) / kCardHalf;  // -1..1 bottom to top
                if (std::abs(u) > 0.97 || std::abs(v) > 0.97) continue;
                double expected[3];
                sample(p, 0.99 * (u + 1) / 2 * p.width, (1 - (v + 1) / 2) * p.height, expected);
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, int(std::lround(std::abs(frame[(size_t(py) * kWidth + px) * 3 + k] -
                                                                     expected[k] * level))));
            }
        return worst;
    }
    SavedSchedule saved;
    ScratchDir dir;
    Picture intro, who;
};

// The schedule stepped to 10 s (opening card, at full level) and to 256 s
// (closing card, six seconds into its fade-in), drawn in the frame loop's
// slot: the picture appears upright in the middle, nothing outside it.
TEST_F(TitleCard, ScheduledCardsShowTheirPictureUprightInTheMiddle) {
    struct Case {
        int atMs;
        bool first;
        float level;
        const Picture* picture;
    } cases[] = {{10000, true, 1.0f, &intro}, {256000, false, 0.6f, &who}};
    for (const Case& c : cases) {
        SCOPED_TRACE("at " + std::to_string(c.atMs) + " ms");
        runScheduleTo(c.atMs);
        ASSERT_TRUE(sceneFlags.titleCardOn);
        ASSERT_EQ(cues.titleCardFirst, c.first);
        EXPECT_NEAR(cues.titleFadeLevel, c.level, 0.01f);
        clearFrame(0);
        drawSlot();
        const std::vector<uint8_t> frame = offscreenReadRgb();
        EXPECT_LE(worstDifference(frame, *c.picture, std::min(1.0f, cues.titleFadeLevel)), 8);
        // The card spans x 197..443 and y 148..332: lit just inside, black just outside.
        const auto lit = [&](int px, int py) {
            const uint8_t* p = &frame[(static_cast<size_t>(py) * kWidth + px) * 3];
            return p[0] + p[1] + p[2] > 0;
        };
        EXPECT_TRUE(lit(200, 240) && lit(440, 240) && lit(320, 151) && lit(320, 329));
        EXPECT_FALSE(lit(194, 240) || lit(446, 240) || lit(320, 145) || lit(320, 335));
    }
}

// With additive blending the fade level scales what is added and the
// pipeline clamps the sum; a card whose picture failed to load (name 0) adds
// a flat grey of the level. A flat white picture makes the sums easy to read.
TEST_F(TitleCard, FadeLevelScalesWhatIsAddedAndZeroLeavesTheFrameAlone) {
    const std::string white = dir.file("white.jpg");
    ASSERT_TRUE(writeJpeg(white, makePicture(64, 64, [](int, int, uint8_t* c) { c[0] = c[1] = c[2] = 255; })));
    GLuint whiteTexture = 0;
    ASSERT_EQ(loadTexture(white.c_str(), &whiteTexture), 1);
    glDeleteTextures(1, &introTexture);
    struct Case {
        float level, background;
        bool missing;
        int expected;
    } cases[] = {{0.0f, 0.25f, false, 64}, {0.5f, 0.25f, false, 191}, {1.0f, 0.0f, false, 255},
                 {1.0f, 0.8f, false, 255}, {0.25f, 0.0f, false, 64},  {0.5f, 0.0f, true, 128},
                 {0.0f, 0.5f, true, 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level) + " over " + std::to_string(c.background) +
                     (c.missing ? ", no picture" : ""));
        introTexture = c.missing ? 0 : whiteTexture;
        cues.titleCardFirst = true;
        cues.titleFadeLevel = c.level;
        clearFrame(c.background);
        const std::vector<uint8_t> before = offscreenReadRgb();
        drawSlot();
        const std::vector<uint8_t> after = offscreenReadRgb();
        for (int px : {220, 320, 420})
            for (int py : {170, 240, 310})
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(after[(static_cast<size_t>(py) * kWidth + px) * 3 + k], c.expected, 1);
        EXPECT_EQ(after[(20 * kWidth + 20) * 3], before[(20 * kWidth + 20) * 3]);
        if (c.level == 0.0f) {
            EXPECT_EQ(after, before) << "fade level 0 must leave every pixel alone";
        }
    }
    introTexture = 0;
    glDeleteTextures(1, &whiteTexture);
}

}  // namespace
