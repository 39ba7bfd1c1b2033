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
#include <tuple>
#include <vector>

#include "offscreen_gl.h"
#include "overlays/chessboard_overlay.h"
#include "overlays/face_overlay.h"
#include "overlays/letterbox.h"
#include "overlays/radial_overlay.h"
#include "overlays/title_card.h"
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

bool black(const Rgb& p, int i) { return p[3 * i] + p[3 * i + 1] + p[3 * i + 2] == 0; }
bool white(const Rgb& p, int i) { return p[3 * i] + p[3 * i + 1] + p[3 * i + 2] == 3 * 255; }
int countIf(const std::function<bool(int)>& pixel) {
    int n = 0;
    for (int i = 0; i < kPixels; ++i) n += pixel(i);
    return n;
}

// The stencil buffer (0 or 1 per pixel), or the eye distance of every pixel
// from the depth buffer under the start-up projection; both top row first.
std::vector<float> readBuffer(GLenum format) {
    std::vector<float> bottomUp(kPixels), out(kPixels);
    glReadPixels(0, 0, kW, kH, format, GL_FLOAT, bottomUp.data());
    for (int y = 0; y < kH; ++y) std::copy_n(&bottomUp[(kH - 1 - y) * kW], kW, &out[y * kW]);
    if (format == GL_DEPTH_COMPONENT)
        for (float& d : out) d = float(0.02 * 200 / (200.01 - (d * 2.0 - 1.0) * 199.99));
    return out;
}

// A texture whose texels come from texel(x, y) as grey or RGB, nearest filtering.
GLuint makeTexture(int size, const std::function<std::array<uint8_t, 3>(int, int)>& texel) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const auto c = texel(x, y);
            rgb.insert(rgb.end(), c.begin(), c.end());
        }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, size, size, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
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
        std::fill(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);
        std::fill(std::begin(squareGridPhases), std::end(squareGridPhases), 1.0f);  // every square at full level
        resetGl();
    }

    // Everything a draw may leave on switched back, then the start-up state
    // (which also clears the buffers) over a frame of the given grey.
    static void resetGl(float grey = 0.0f) {
        for (GLenum cap : {GL_BLEND, GL_TEXTURE_2D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_LIGHTING, GL_NORMALIZE})
            glDisable(cap);
        glShadeModel(GL_SMOOTH);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        setStartupGlState();
        glClearColor(grey, grey, grey, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0, 0, 0, 0);
    }
};

// The window is the partner's silhouette: with nothing in it only the shown
// mesh is seen; with the white square grid in it, every pixel of the window
// beside the shown mesh is white, and the enlarged copy shows there too;
// nothing shows outside the two. Index 4 has no meshes: not even the grid.
TEST_F(Scenes, WindowShowsOnlyInsideThePartnersSilhouette) {
    gridSquareHalfSize = 0.06f;  // squares overlap into a solid layer
    windowSpin = 1234.0f;
    auto draw = [](bool showsMesh, int element) {
        cues.windowShowsMesh = showsMesh;
        cues.windowElementIndex = element;
        resetGl();
        lookAtOrigin(0, 0, 45);  // back far enough to see the whole mesh
        drawWindowScene();
        return offscreenReadRgb();
    };
    for (int index = 0; index < 5; ++index) {
        cues.windowMeshIndex = index;
        const Rgb shown = draw(false, 2), grid = draw(false, 0), copy = draw(true, 0);
        draw(false, 2);
        const std::vector<float> window = readBuffer(GL_STENCIL_INDEX);
        const int inWindow = countIf([&](int i) { return window[i] == 1 && black(shown, i); });
        EXPECT_EQ(countIf([&](int i) { return window[i] == 1 && black(shown, i) && white(grid, i); }), inWindow);
        EXPECT_EQ(countIf([&](int i) { return !window[i] && black(shown, i) && !(black(grid, i) && black(copy, i)); }),
                  0) << "mesh pair " << index;
        if (index == 4) {
            EXPECT_EQ(countIf([&](int i) { return !black(grid, i) || window[i]; }), 0);
            continue;
        }
        EXPECT_GT(inWindow, 400) << "mesh pair " << index;
        // The enlarged copy shows inside the window: over a quarter of it for
        // the round meshes, about a seventh for meshE's slender petal loop.
        EXPECT_GT(countIf([&](int i) { return window[i] == 1 && black(shown, i) && !black(copy, i); }),
                  inWindow / (index == 1 ? 10 : 4))
            << "mesh pair " << index;
    }
}

// Horizontal bars span the width, so every row is one colour; vertical bars
// span the height, so every column is.
TEST_F(Scenes, BarsLieAlongTheirDirection) {
    for (int i = 0; i < kBarCount; ++i) barPhases[i] = 0.1f + 0.02f * i, barOffsets[i] = -1.4f + 0.07f * i;
    barColor[0] = 1.0f, barColor[1] = 0.6f, barColor[2] = 0.2f;
    for (bool horizontal : {true, false}) {
        cues.barsHorizontal = horizontal;
        resetGl();
        drawBars();
        const Rgb p = offscreenReadRgb();
        EXPECT_EQ(countIf([&](int i) {
                      const int start = horizontal ? i / kW * kW : i % kW;
                      return !std::equal(&p[3 * i], &p[3 * i + 3], &p[3 * start]);
                  }),
                  0)
            << (horizontal ? "horizontal" : "vertical");
        EXPECT_GT(countIf([&](int i) { return !black(p, i); }), kPixels / 20);
    }
}

// meshG seen from outside with the light to the right, on a grey ground: a
// black silhouette, a pure white wire, several greys of stipple, and the lit
// side brighter.
TEST_F(Scenes, HalftoneShowsSilhouetteWireAndGreysTowardsTheLight) {
    refreshHalftonePatterns();
    std::fill(std::begin(halftoneWobble), std::end(halftoneWobble), 0.0f);
    computeShadeLevels(30, 0, 0, meshG.normals, meshGShadeLevels, kMeshGVertexCount);
    cues.halftoneMeshIndex = 1;
    resetGl(0.25f);
    lookAtOrigin(0, 0, 75);
    drawHalftoneMeshScene();
    const Rgb p = offscreenReadRgb();
    EXPECT_GT(countIf([&](int i) { return black(p, i); }), 3000);
    EXPECT_GT(countIf([&](int i) { return white(p, i); }), 500);
    int greys = 0;
    for (int level : {42, 85, 128, 170, 212})
        greys += countIf([&](int i) { return std::abs(p[3 * i] - level) <= 1 && p[3 * i] == p[3 * i + 2]; }) > 0;
    EXPECT_GE(greys, 3) << "stipple passes 1 to 5";
    long left = 0, right = 0;
    for (int i = 0; i < kPixels; ++i) (i % kW < kW / 2 ? left : right) += p[3 * i];
    EXPECT_GT(right, left) << "the side towards the light is brighter";
}

// From inside, the settled inflated mesh covers most of the view whichever
// way it has turned (the open faces of the frame let a little background
// through), far more than the same mesh without its displacement.
TEST_F(Scenes, DisplacedMeshFillsTheScreen) {
    auto coverage = [](float clock) {
        resetGl();
        drawDisplacedMeshScene(clock);
        const Rgb p = offscreenReadRgb();
        return double(countIf([&](int i) { return !black(p, i); })) / kPixels;
    };
    std::fill(std::begin(meshIDisplacement), std::end(meshIDisplacement), 0.0f);
    const double thin = coverage(40000.0f);
    for (int frame = 0; frame < 40; ++frame)
        updateDisplacement(meshIDisplacement, meshI.vertices, kMeshIVertexCount, 20000, 20000, 20000);
    for (float clock : {0.0f, 40000.0f, 123456.0f}) EXPECT_GT(coverage(clock), 0.85) << "spin clock " << clock;
    EXPECT_GT(coverage(40000.0f), thin + 0.1) << "the displacement inflates the mesh";
}

// Inside the floor mask the grid shows in its warm colour and the meshes
// above are drawn over it (closer than the floor, about 110 away); outside,
// the squares grow with the band's half-size and vanish at 0.
TEST_F(Scenes, FloorGridInsideTheMaskPulsingSquaresOutside) {
    floorClock = 5000.0f;
    int outsideLit[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
        gridSquareHalfSize = pass * 0.04f;
        resetGl();
        lookAtOrigin(floorEyeTable[0][0], floorEyeTable[0][1], floorEyeTable[0][2]);
        drawFloorScene();
        const Rgb p = offscreenReadRgb();
        const std::vector<float> mask = readBuffer(GL_STENCIL_INDEX), eye = readBuffer(GL_DEPTH_COMPONENT);
        const int inMask = countIf([&](int i) { return mask[i] == 1; });
        EXPECT_GT(inMask, kPixels / 10);
        EXPECT_GT(countIf([&](int i) {
                      return mask[i] && std::abs(p[3 * i] - 153) + std::abs(p[3 * i + 1] - 128) +
                                                std::abs(p[3 * i + 2] - 102) <= 2;
                  }),
                  inMask / 2);
        EXPECT_GT(countIf([&](int i) { return mask[i] && eye[i] < 100.0f; }), 100);
        outsideLit[pass] = countIf([&](int i) { return !mask[i] && !black(p, i); });
    }
    EXPECT_GT(outsideLit[1], outsideLit[0] + 20000);
}

// Over a grey frame: levels of 0 change nothing, 2 looks like 1, and layer 3
// needs its switch to equal exactly 1.
TEST_F(Scenes, FaceOverlayLevelsAndTheThirdLayer) {
    faceTexture = makeTexture(4, [](int x, int) { return std::array<uint8_t, 3>{uint8_t(x * 60), 0, 0}; });
    faceAntiTexture = makeTexture(4, [](int, int y) { return std::array<uint8_t, 3>{0, uint8_t(y * 60), 0}; });
    visoTexture = makeTexture(4, [](int, int) { return std::array<uint8_t, 3>{0, 0, 90}; });
    auto frame = [](float l1, float l2, float l3, unsigned char layer3) {
        resetGl(0.2f);
        drawFaceOverlay(l1, l2, l3, layer3);
        return offscreenReadRgb();
    };
    const Rgb ground = frame(0, 0, 0, 1);
    EXPECT_EQ(ground, Rgb(3 * kPixels, 51));
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
        chessboardTextures[b] = makeTexture(8, [b](int x, int y) {
            const uint8_t v = (x + y + b) % 2 ? 255 : 0;
            return std::array<uint8_t, 3>{v, v, v};
        });
    auto frame = [](int number) {
        cues.chessboardFrame = number;
        resetGl(0.4f);
        drawChessboardOverlay();
        return offscreenReadRgb();
    };
    const Rgb board = frame(0);
    const int whitened = countIf([&](int i) { return white(board, i); });
    EXPECT_EQ(whitened + countIf([&](int i) { return board[3 * i] == 102 && board[3 * i + 2] == 102; }), kPixels);
    EXPECT_NEAR(whitened, kPixels / 2, kPixels / 50);
    EXPECT_NE(frame(1), board);
    EXPECT_EQ(frame(-5), board);
    EXPECT_EQ(frame(7), frame(3));
    glDeleteTextures(4, chessboardTextures);
    std::fill(std::begin(chessboardTextures), std::end(chessboardTextures), 0u);
}

// The bars cover the rows from the edges to the inner edge; at 0 and below
// they cover everything. The radial layers, untextured, add up to white over
// the whole screen whatever their tilt, and step the sway once per draw.
TEST_F(Scenes, LetterboxRowsAndRadialCoverage) {
    for (auto [edge, barRows] : {std::pair{0.8f, 48}, {0.5f, 120}, {0.0f, 240}, {-0.3f, 240}}) {
        cues.letterboxEdge = edge;
        resetGl(1.0f);
        drawLetterbox();
        const Rgb p = offscreenReadRgb();
        EXPECT_EQ(countIf([&](int i) { return black(p, i) != (i / kW < barRows || i / kW >= kH - barRows); }), 0)
            << "edge " << edge;
    }
    radialSpin = 0.0f;
    radialTexture = radialTexture2 = 0;  // untextured, whatever an earlier start-up loaded
    resetGl();
    drawRadialOverlay();
    EXPECT_EQ(radialSpin, 1.0f);
    const Rgb p = offscreenReadRgb();
    EXPECT_EQ(countIf([&](int i) { return white(p, i); }), kPixels);
}

// What each draw hands on to the draws after it, from the start-up state. A
// shade model of 0 means the draw leaves it alone; each draw starts from the
// model it should not leave.
TEST_F(Scenes, StateLeftBehindByEveryDraw) {
    using Caps = std::vector<std::pair<GLenum, bool>>;
    const Caps overlay = {{GL_LIGHTING, true}, {GL_DEPTH_TEST, true}, {GL_BLEND, false}, {GL_TEXTURE_2D, false}};
    const Caps untextured = {{GL_LIGHTING, false}, {GL_BLEND, false},         {GL_DEPTH_TEST, true},
                             {GL_TEXTURE_2D, false}, {GL_TEXTURE_GEN_S, false}, {GL_TEXTURE_GEN_T, false}};
    auto with = [](Caps caps, Caps more) { return caps.insert(caps.end(), more.begin(), more.end()), caps; };
    struct Expect {
        const char* name;
        std::function<void()> draw;
        Caps caps;
        GLint shadeModel;
        bool modelviewRestored;
    };
    const std::vector<Expect> table = {
        {"face overlay", [] { drawFaceOverlay(1, 1, 1, 1); }, overlay, 0, true},
        {"chessboard", [] { drawChessboardOverlay(); }, overlay, 0, true},
        {"radial", [] { drawRadialOverlay(); }, overlay, 0, true},
        {"title card", [] { drawTitleCard(); }, overlay, 0, false},
        {"letterbox", [] { glDisable(GL_DEPTH_TEST); drawLetterbox(); }, {{GL_LIGHTING, true}, {GL_DEPTH_TEST, true}}, 0, true},
        {"square grid", [] { glDisable(GL_DEPTH_TEST); drawSquareGrid(1, 1, 1); }, {{GL_DEPTH_TEST, true}}, 0, true},
        {"bars", [] { glDisable(GL_DEPTH_TEST); drawBars(); }, {{GL_DEPTH_TEST, true}}, 0, true},
        {"displaced", [] { drawDisplacedMeshScene(100); }, untextured, 0, true},
        {"window", [] { drawWindowScene(); }, with(untextured, {{GL_NORMALIZE, true}, {GL_STENCIL_TEST, false}}), 0, true},
        {"halftone", [] { cues.halftoneMeshIndex = 2; drawHalftoneMeshScene(); },
         {{GL_LIGHTING, false}, {GL_BLEND, false}, {GL_POLYGON_STIPPLE, false}}, GL_FLAT, false},
        {"volume", [] { volumeGrid[100] = 0.5f; drawVolumeScene(); },
         with(untextured, {{GL_CULL_FACE, false}, {GL_NORMALIZE, true}}), GL_SMOOTH, true},
        {"floor", [] { drawFloorScene(); }, with(untextured, {{GL_STENCIL_TEST, false}}), GL_SMOOTH, true},
    };
    for (const Expect& e : table) {
        resetGl();
        const GLint shadeBefore = e.shadeModel == GL_FLAT ? GL_SMOOTH : GL_FLAT;
        glShadeModel(shadeBefore);
        GLdouble projection[16], modelview[16], after[16];
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
        e.draw();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << e.name;
        for (auto [cap, on] : e.caps) EXPECT_EQ(glIsEnabled(cap) == GL_TRUE, on) << e.name << " cap 0x" << std::hex << cap;
        GLint value[4] = {};
        glGetIntegerv(GL_SHADE_MODEL, &value[0]);
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &value[1]);
        glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &value[2]);
        glGetIntegerv(GL_MATRIX_MODE, &value[3]);
        EXPECT_EQ(value[0], e.shadeModel ? e.shadeModel : shadeBefore) << e.name;
        EXPECT_TRUE(value[1] == 1 && value[2] == 1 && value[3] == GL_MODELVIEW) << e.name;
        glGetDoublev(GL_PROJECTION_MATRIX, after);
        EXPECT_TRUE(std::equal(after, after + 16, projection)) << e.name << ": projection restored";
        glGetDoublev(GL_MODELVIEW_MATRIX, after);
        EXPECT_EQ(std::equal(after, after + 16, modelview), e.modelviewRestored) << e.name;
    }

    // The window and floor scenes leave light 0 and the stencil function moved.
    for (auto [draw, attenuation, ref] : {std::tuple{&drawWindowScene, 0.05f, 1}, {&drawFloorScene, 1e-7f, 0}}) {
        resetGl();
        draw();
        GLfloat linear = 0;
        glGetLightfv(GL_LIGHT0, GL_LINEAR_ATTENUATION, &linear);
        EXPECT_FLOAT_EQ(linear, attenuation);
        GLint stencil[3];
        glGetIntegerv(GL_STENCIL_FUNC, &stencil[0]);
        glGetIntegerv(GL_STENCIL_REF, &stencil[1]);
        glGetIntegerv(GL_STENCIL_VALUE_MASK, &stencil[2]);
        EXPECT_TRUE(stencil[0] == GL_EQUAL && stencil[1] == ref && stencil[2] == 1) << "reference " << ref;
    }
}

}  // namespace
