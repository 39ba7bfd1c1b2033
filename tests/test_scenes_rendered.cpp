// The scenes and overlays drawn in the offscreen context from the start-up GL
// state, checked on the pixels and the stencil buffer they leave, and on the
// GL state every later draw inherits.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "overlays/chessboard_overlay.h"
#include "overlays/face_overlay.h"
#include "overlays/letterbox.h"
#include "overlays/radial_overlay.h"
#include "render/camera.h"
#include "render/mesh.h"
#include "scenes/bars.h"
#include "scenes/displaced_scene.h"
#include "scenes/floor_scene.h"
#include "scenes/halftone_scene.h"
#include "scenes/square_grid.h"
#include "scenes/volume_scene.h"
#include "scenes/window_scene.h"
#include "shell/demo_state.h"
#include "shell/startup.h"
#include "shell/timeline.h"

namespace {

constexpr int kW = 640, kH = 480, kPixels = kW * kH;

using Rgb = std::vector<uint8_t>;

bool black(const Rgb& p, int i) { return p[3 * i] == 0 && p[3 * i + 1] == 0 && p[3 * i + 2] == 0; }
int brightness(const Rgb& p, int i) { return p[3 * i] + p[3 * i + 1] + p[3 * i + 2]; }

// The stencil buffer, top row first like offscreenReadRgb.
std::vector<uint8_t> readStencil() {
    std::vector<uint8_t> bottomUp(kPixels), out(kPixels);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kW, kH, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, bottomUp.data());
    for (int y = 0; y < kH; ++y) std::copy_n(&bottomUp[(kH - 1 - y) * kW], kW, &out[y * kW]);
    return out;
}

// Eye distance of every pixel from the depth buffer (top row first), under
// the start-up projection (near 0.01, far 200).
std::vector<float> readEyeDepth() {
    std::vector<float> d(kPixels), out(kPixels);
    glReadPixels(0, 0, kW, kH, GL_DEPTH_COMPONENT, GL_FLOAT, d.data());
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const double z = d[(kH - 1 - y) * kW + x] * 2.0 - 1.0;
            out[y * kW + x] = float(2.0 * 0.01 * 200 / (200 + 0.01 - z * (200 - 0.01)));
        }
    return out;
}

// A texture of w x h RGB texels, nearest filtering.
GLuint makeTexture(int w, int h, const std::function<std::array<uint8_t, 3>(int, int)>& texel) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto c = texel(x, y);
            rgb.insert(rgb.end(), c.begin(), c.end());
        }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, w, h, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return name;
}

class Scenes : public testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        ASSERT_TRUE(offscreenCreate(kW, kH, &reason)) << reason;
        fixUpAllMeshes();  // idempotent
        sceneFlags = SceneFlags{};
        cues = TimelineCues{};
        bands = SpectrumBands{};
        std::fill(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);
        resetGl();
    }

    // Everything a draw may leave on switched back, then the start-up state.
    static void resetGl() {
        for (GLenum cap : {GL_BLEND, GL_TEXTURE_2D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_LIGHTING, GL_NORMALIZE,
                           GL_POLYGON_STIPPLE})
            glDisable(cap);
        glShadeModel(GL_SMOOTH);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glBindTexture(GL_TEXTURE_2D, 0);
        glColor3f(1, 1, 1);
        glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
        glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
        setStartupGlState();
    }

    static void clear(float grey = 0.0f) {
        glClearColor(grey, grey, grey, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glClearColor(0, 0, 0, 0);
    }

    // The window scene as the frame loop draws it, from a camera far enough
    // back to see the whole mesh.
    static void drawWindowAt(float eyeZ) {
        clear();
        glLoadIdentity();
        lookAtOrigin(0, 0, eyeZ);
        drawWindowScene();
    }
};

// The window is the partner's silhouette: with nothing in it only the shown
// mesh is seen; with the white square grid in it, every pixel of the partner's
// silhouette outside the shown mesh is white and nothing lies outside the two.
// The enlarged copy likewise shows only inside the window. Index 4 has no
// meshes, so nothing shows, not even the 2D element.
TEST_F(Scenes, WindowShowsOnlyInsideThePartnersSilhouette) {
    std::fill(std::begin(squareGridPhases), std::end(squareGridPhases), 1.0f);
    gridSquareHalfSize = 0.06f;  // squares overlap into a solid white layer
    windowSpin = 1234.0f;
    cues.windowShowsMesh = false;
    for (int index = 0; index < 5; ++index) {
        cues.windowMeshIndex = index;
        cues.windowElementIndex = 2;  // nothing in the window
        drawWindowAt(45);
        const Rgb shownOnly = offscreenReadRgb();
        const std::vector<uint8_t> window = readStencil();
        cues.windowElementIndex = 0;
        resetGl();
        drawWindowAt(45);
        const Rgb withGrid = offscreenReadRgb();
        cues.windowShowsMesh = true;
        resetGl();
        drawWindowAt(45);
        const Rgb withCopy = offscreenReadRgb();
        cues.windowShowsMesh = false;
        resetGl();

        int inWindow = 0, whiteInWindow = 0, strayOutside = 0, copyInWindow = 0;
        for (int i = 0; i < kPixels; ++i) {
            const bool shown = !black(shownOnly, i);
            if (window[i] == 1 && !shown) {
                ++inWindow;
                whiteInWindow += brightness(withGrid, i) == 3 * 255;
                copyInWindow += !black(withCopy, i);
            } else if (window[i] == 0 && !shown) {
                strayOutside += !black(withGrid, i) + !black(withCopy, i);
            }
        }
        if (index == 4) {
            EXPECT_EQ(std::count(window.begin(), window.end(), 1), 0);
            EXPECT_EQ(std::count_if(withGrid.begin(), withGrid.end(), [](uint8_t c) { return c; }), 0);
            continue;
        }
        EXPECT_GT(inWindow, 1000) << "mesh pair " << index << ": the window shows beside the mesh";
        EXPECT_EQ(whiteInWindow, inWindow) << "mesh pair " << index;
        EXPECT_GT(copyInWindow, inWindow / 4) << "mesh pair " << index << ": the enlarged copy fills the window";
        EXPECT_EQ(strayOutside, 0) << "mesh pair " << index;
    }
}

// Horizontal bars span the width, so every row is one colour; vertical bars
// span the height, so every column is.
TEST_F(Scenes, BarsLieAlongTheirDirection) {
    for (int i = 0; i < kBarCount; ++i) {
        barPhases[i] = 0.1f + 0.02f * i;
        barOffsets[i] = -1.4f + 0.07f * i;
    }
    barColor[0] = 1.0f, barColor[1] = 0.6f, barColor[2] = 0.2f;
    for (bool horizontal : {true, false}) {
        cues.barsHorizontal = horizontal;
        clear();
        drawBars();
        const Rgb p = offscreenReadRgb();
        int uniformLines = 0, litPixels = 0;
        const int lines = horizontal ? kH : kW, along = horizontal ? kW : kH;
        for (int line = 0; line < lines; ++line) {
            bool uniform = true;
            for (int k = 0; k < along; ++k) {
                const int i = horizontal ? line * kW + k : k * kW + line;
                const int first = horizontal ? line * kW : line;
                uniform &= std::equal(&p[3 * i], &p[3 * i + 3], &p[3 * first]);
                litPixels += !black(p, i);
            }
            uniformLines += uniform;
        }
        EXPECT_EQ(uniformLines, lines) << (horizontal ? "horizontal" : "vertical");
        EXPECT_GT(litPixels, kPixels / 20) << (horizontal ? "horizontal" : "vertical");
    }
}

// meshG seen from outside with the light to the right: a black silhouette, a
// pure white wire, several greys of stipple, and the lit side brighter.
TEST_F(Scenes, HalftoneShowsSilhouetteWireAndGreysTowardsTheLight) {
    randomState = 1;
    refreshHalftonePatterns();
    std::fill(std::begin(halftoneWobble), std::end(halftoneWobble), 0.0f);
    computeShadeLevels(30, 0, 0, meshG.normals, meshGShadeLevels, kMeshGVertexCount);
    cues.halftoneMeshIndex = 1;
    clear(0.25f);  // a grey ground, so the black silhouette shows
    lookAtOrigin(0, 0, 75);
    drawHalftoneMeshScene();
    const Rgb p = offscreenReadRgb();
    int blackPixels = 0, white = 0, left = 0, right = 0;
    bool grey[256] = {};
    for (int i = 0; i < kPixels; ++i) {
        blackPixels += black(p, i);
        white += brightness(p, i) == 3 * 255;
        if (p[3 * i] == p[3 * i + 1] && p[3 * i] == p[3 * i + 2]) grey[p[3 * i]] = true;
        (i % kW < kW / 2 ? left : right) += brightness(p, i);
    }
    EXPECT_GT(blackPixels, 5000);
    EXPECT_GT(white, 500);
    int greys = 0;
    for (int level : {42, 85, 128, 170, 212}) greys += grey[level] || grey[level + 1] || grey[level - 1];
    EXPECT_GE(greys, 3) << "stipple passes 1 to 5";
    EXPECT_GT(right, left) << "the side towards the light is brighter";
}

// From inside, the inflated mesh covers most of the view whichever way it has
// turned (the open faces of the frame let a little of the background
// through), far more than the same mesh without its displacement.
TEST_F(Scenes, DisplacedMeshFillsTheScreen) {
    auto coverage = [](float clock) {
        clear();
        glLoadIdentity();
        drawDisplacedMeshScene(clock);
        const Rgb p = offscreenReadRgb();
        int covered = 0;
        for (int i = 0; i < kPixels; ++i) covered += !black(p, i);
        return double(covered) / kPixels;
    };
    std::fill(std::begin(meshIDisplacement), std::end(meshIDisplacement), 0.0f);
    const double thin = coverage(40000.0f);
    for (int frame = 0; frame < 40; ++frame)
        updateDisplacement(meshIDisplacement, meshI.vertices, kMeshIVertexCount, 20000, 20000, 20000);
    for (float clock : {0.0f, 40000.0f, 123456.0f}) EXPECT_GT(coverage(clock), 0.85) << "spin clock " << clock;
    EXPECT_GT(coverage(40000.0f), thin + 0.1) << "the displacement inflates the mesh";
}

// Inside the floor mask the grid shows in its warm colour; outside, its
// squares pulse with the band and vanish at 0; the meshes above are drawn
// over the floor.
TEST_F(Scenes, FloorGridInsideTheMaskPulsingSquaresOutside) {
    std::fill(std::begin(squareGridPhases), std::end(squareGridPhases), 1.0f);
    floorClock = 5000.0f;
    int outsideLit[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
        gridSquareHalfSize = pass == 0 ? 0.0f : 0.04f;
        resetGl();
        clear();
        glLoadIdentity();
        lookAtOrigin(floorEyeTable[0][0], floorEyeTable[0][1], floorEyeTable[0][2]);
        drawFloorScene();
        const Rgb p = offscreenReadRgb();
        const std::vector<uint8_t> mask = readStencil();
        const std::vector<float> eye = readEyeDepth();
        int inMask = 0, warm = 0, meshAboveOverFloor = 0;
        for (int i = 0; i < kPixels; ++i) {
            if (mask[i]) {
                ++inMask;
                warm += std::abs(p[3 * i] - 153) <= 1 && std::abs(p[3 * i + 1] - 128) <= 1 &&
                        std::abs(p[3 * i + 2] - 102) <= 1;
                meshAboveOverFloor += eye[i] < 100.0f;  // the floor lies about 110 away
            } else {
                outsideLit[pass] += !black(p, i);
            }
        }
        EXPECT_GT(inMask, kPixels / 10);
        EXPECT_GT(warm, inMask / 2);
        EXPECT_GT(meshAboveOverFloor, 100);
    }
    EXPECT_GT(outsideLit[1], outsideLit[0] + 20000) << "squares outside the floor grow with the half-size";
}

// Over a grey frame: levels of 0 change nothing, 2 looks like 1, and layer 3
// needs its switch to equal exactly 1.
TEST_F(Scenes, FaceOverlayLevelsAndTheThirdLayer) {
    faceTexture = makeTexture(4, 4, [](int x, int) { return std::array<uint8_t, 3>{uint8_t(x * 60), 0, 0}; });
    faceAntiTexture = makeTexture(4, 4, [](int, int y) { return std::array<uint8_t, 3>{0, uint8_t(y * 60), 0}; });
    visoTexture = makeTexture(4, 4, [](int, int) { return std::array<uint8_t, 3>{0, 0, 90}; });
    auto frame = [](float l1, float l2, float l3, unsigned char layer3) {
        clear(0.2f);
        drawFaceOverlay(l1, l2, l3, layer3);
        return offscreenReadRgb();
    };
    const Rgb ground = frame(0, 0, 0, 1);
    EXPECT_EQ(ground[0], 51);
    EXPECT_EQ(frame(0, 0, 0, 1), ground);
    EXPECT_EQ(frame(2, 2, 2, 1), frame(1, 1, 1, 1));
    EXPECT_NE(frame(1, 1, 0, 1), ground);
    EXPECT_EQ(frame(0, 0, 1, 2), ground) << "layer 3 only when the switch is exactly 1";
    EXPECT_NE(frame(0, 0, 1, 1), ground);
    GLuint names[] = {faceTexture, faceAntiTexture, visoTexture};
    glDeleteTextures(3, names);
    faceTexture = faceAntiTexture = visoTexture = 0;
}

// Black squares leave the frame as it was, white squares turn it white; a
// frame number outside 0..3 shows the nearest board instead of reading past
// the four.
TEST_F(Scenes, ChessboardWhitensUnderWhiteSquaresOnly) {
    for (int b = 0; b < 4; ++b)
        chessboardTextures[b] = makeTexture(8, 8, [b](int x, int y) {
            const uint8_t v = ((x + y + b) % 2) ? 255 : 0;
            return std::array<uint8_t, 3>{v, v, v};
        });
    auto frame = [](int number) {
        cues.chessboardFrame = number;
        clear(0.4f);
        drawChessboardOverlay();
        return offscreenReadRgb();
    };
    const Rgb board = frame(0);
    int white = 0, unchanged = 0;
    for (int i = 0; i < kPixels; ++i) {
        white += brightness(board, i) == 3 * 255;
        unchanged += board[3 * i] == 102 && board[3 * i + 1] == 102 && board[3 * i + 2] == 102;
    }
    EXPECT_EQ(white + unchanged, kPixels);
    EXPECT_NEAR(white, kPixels / 2, kPixels / 50);
    EXPECT_NE(frame(1), board);
    EXPECT_EQ(frame(-5), board);
    EXPECT_EQ(frame(7), frame(3));
    glDeleteTextures(4, chessboardTextures);
    std::fill(std::begin(chessboardTextures), std::end(chessboardTextures), 0u);
}

// The bars cover the rows from the edges to the inner edge; at 0 and below
// they cover everything.
TEST_F(Scenes, LetterboxCoversFromTheEdgesToItsInnerEdge) {
    struct Case {
        float edge;
        int barRows;
    };
    for (const Case c : {Case{0.8f, 48}, Case{0.5f, 120}, Case{0.0f, 240}, Case{-0.3f, 240}}) {
        cues.letterboxEdge = c.edge;
        clear(1.0f);
        drawLetterbox();
        const Rgb p = offscreenReadRgb();
        for (int y = 0; y < kH; ++y) {
            const bool inBar = y < c.barRows || y >= kH - c.barRows;
            for (int x : {0, kW / 2, kW - 1})
                ASSERT_EQ(black(p, y * kW + x), inBar) << "edge " << c.edge << " row " << y;
        }
    }
}

// The radial overlay advances its sway once per draw and its layers overfill
// the screen whatever their tilt.
TEST_F(Scenes, RadialOverlayStepsOncePerDrawAndFillsTheScreen) {
    radialSpin = 0.0f;
    clear();
    drawRadialOverlay();
    EXPECT_EQ(radialSpin, 1.0f);
    const Rgb first = offscreenReadRgb();
    for (int i = 0; i < kPixels; ++i) ASSERT_EQ(brightness(first, i), 3 * 255) << "the three tints add to white";
}

// What each draw hands on to the draws after it, from the start-up state.
TEST_F(Scenes, StateLeftBehindByEveryDraw) {
    struct Expect {
        const char* name;
        std::function<void()> draw;
        std::vector<std::pair<GLenum, bool>> caps;
        GLint shadeModel;  // 0: left as it was
        bool modelviewRestored;
    };
    const std::vector<Expect> table = {
        {"face overlay", [] { drawFaceOverlay(1, 1, 1, 1); },
         {{GL_LIGHTING, true}, {GL_DEPTH_TEST, true}, {GL_BLEND, false}, {GL_TEXTURE_2D, false}}, 0, true},
        {"chessboard", [] { drawChessboardOverlay(); },
         {{GL_LIGHTING, true}, {GL_DEPTH_TEST, true}, {GL_BLEND, false}, {GL_TEXTURE_2D, false}}, 0, true},
        {"radial", [] { drawRadialOverlay(); },
         {{GL_LIGHTING, true}, {GL_DEPTH_TEST, true}, {GL_BLEND, false}, {GL_TEXTURE_2D, false}}, 0, true},
        {"letterbox", [] { glDisable(GL_DEPTH_TEST); drawLetterbox(); },
         {{GL_LIGHTING, true}, {GL_DEPTH_TEST, true}}, 0, true},
        {"square grid", [] { glDisable(GL_DEPTH_TEST); drawSquareGrid(1, 1, 1); }, {{GL_DEPTH_TEST, true}},
         0, true},
        {"bars", [] { glDisable(GL_DEPTH_TEST); drawBars(); }, {{GL_DEPTH_TEST, true}}, 0, true},
        {"displaced", [] { drawDisplacedMeshScene(100); },
         {{GL_LIGHTING, false}, {GL_TEXTURE_2D, false}, {GL_TEXTURE_GEN_S, false}, {GL_TEXTURE_GEN_T, false}},
         0, true},
        {"window", [] { cues.windowShowsMesh = true; drawWindowScene(); },
         {{GL_NORMALIZE, true}, {GL_STENCIL_TEST, false}, {GL_LIGHTING, false}, {GL_BLEND, false},
          {GL_DEPTH_TEST, true}, {GL_TEXTURE_2D, false}, {GL_TEXTURE_GEN_S, false}, {GL_TEXTURE_GEN_T, false}},
         0, true},
        {"halftone", [] { cues.halftoneMeshIndex = 2; drawHalftoneMeshScene(); },
         {{GL_LIGHTING, false}, {GL_BLEND, false}, {GL_POLYGON_STIPPLE, false}}, GL_FLAT, false},
        {"volume", [] { volumeGrid[100] = 0.5f; drawVolumeScene(); },
         {{GL_CULL_FACE, false}, {GL_NORMALIZE, true}, {GL_LIGHTING, false}, {GL_BLEND, false},
          {GL_DEPTH_TEST, true}, {GL_TEXTURE_2D, false}, {GL_TEXTURE_GEN_S, false}, {GL_TEXTURE_GEN_T, false}},
         GL_SMOOTH, true},
        {"floor", [] { drawFloorScene(); },
         {{GL_STENCIL_TEST, false}, {GL_LIGHTING, false}, {GL_TEXTURE_2D, false}, {GL_TEXTURE_GEN_S, false},
          {GL_TEXTURE_GEN_T, false}, {GL_DEPTH_TEST, true}},
         GL_SMOOTH, true},
    };
    for (const Expect& e : table) {
        resetGl();
        // Start from the other shade model, so a draw that should set it must.
        const GLint shadeBefore = e.shadeModel == GL_FLAT ? GL_SMOOTH : GL_FLAT;
        glShadeModel(shadeBefore);
        GLdouble projection[16], modelview[16];
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
        e.draw();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << e.name;
        for (auto [cap, on] : e.caps) EXPECT_EQ(glIsEnabled(cap) == GL_TRUE, on) << e.name << " cap 0x" << std::hex << cap;
        GLint value = 0;
        glGetIntegerv(GL_SHADE_MODEL, &value);
        EXPECT_EQ(value, e.shadeModel ? e.shadeModel : shadeBefore) << e.name;
        GLint depth[2];
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth[0]);
        glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth[1]);
        EXPECT_EQ(depth[0], 1) << e.name;
        EXPECT_EQ(depth[1], 1) << e.name;
        glGetIntegerv(GL_MATRIX_MODE, &value);
        EXPECT_EQ(value, GL_MODELVIEW) << e.name;
        GLdouble after[16];
        glGetDoublev(GL_PROJECTION_MATRIX, after);
        EXPECT_TRUE(std::equal(after, after + 16, projection)) << e.name << ": projection restored";
        glGetDoublev(GL_MODELVIEW_MATRIX, after);
        EXPECT_EQ(std::equal(after, after + 16, modelview), e.modelviewRestored) << e.name;
    }

    // The scenes that move light 0 or the stencil function leave them moved.
    struct LightCase {
        std::function<void()> draw;
        float attenuation;
        GLint stencilFunc, stencilRef;
    };
    for (const LightCase& c : {LightCase{[] { drawWindowScene(); }, 0.05f, GL_EQUAL, 1},
                               LightCase{[] { drawFloorScene(); }, 1e-7f, GL_EQUAL, 0}}) {
        resetGl();
        c.draw();
        GLfloat attenuation = 0;
        glGetLightfv(GL_LIGHT0, GL_LINEAR_ATTENUATION, &attenuation);
        EXPECT_FLOAT_EQ(attenuation, c.attenuation);
        GLint func = 0, ref = 0, mask = 0;
        glGetIntegerv(GL_STENCIL_FUNC, &func);
        glGetIntegerv(GL_STENCIL_REF, &ref);
        glGetIntegerv(GL_STENCIL_VALUE_MASK, &mask);
        EXPECT_EQ(func, c.stencilFunc);
        EXPECT_EQ(ref, c.stencilRef);
        EXPECT_EQ(mask, 1);
    }
}

}  // namespace
