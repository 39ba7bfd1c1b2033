// The scenes and overlays drawn in the offscreen context from the start-up GL
// state: what the schedule never shows (indices past their tables, levels
// out of range) and the GL state every later draw inherits. What the schedule
// does show is held against reference stills (tests/reference).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
#include "state/demo_state.h"
#include "shell/startup.h"
#include "shell/timeline.h"

namespace {

constexpr int kW = 640, kH = 480, kPixels = kW * kH;
using Rgb = std::vector<uint8_t>;

bool black(const Rgb& p, int i) { return p[3 * i] + p[3 * i + 1] + p[3 * i + 2] == 0; }
int countIf(const std::function<bool(int)>& pixel) {
    int n = 0;
    for (int i = 0; i < kPixels; ++i) n += pixel(i);
    return n;
}

// The stencil buffer, one value per pixel, top row first.
std::vector<float> readStencil() {
    std::vector<float> bottomUp(kPixels), out(kPixels);
    glReadPixels(0, 0, kW, kH, GL_STENCIL_INDEX, GL_FLOAT, bottomUp.data());
    for (int y = 0; y < kH; ++y) std::copy_n(&bottomUp[(kH - 1 - y) * kW], kW, &out[y * kW]);
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

// Past the four pairs there is no mesh: the window scene draws nothing at
// all, not even the element meant for the window, and leaves no stencil.
TEST_F(Scenes, WindowWithoutAMeshDrawsNothing) {
    gridSquareHalfSize = 0.06f;  // squares overlap into a solid layer
    cues.windowMeshIndex = 4;
    for (bool showsMesh : {false, true}) {
        cues.windowShowsMesh = showsMesh;
        resetGl();
        lookAtOrigin(0, 0, 45);
        drawWindowScene();
        const Rgb p = offscreenReadRgb();
        const std::vector<float> window = readStencil();
        EXPECT_EQ(countIf([&](int i) { return !black(p, i) || window[i]; }), 0) << "copy " << showsMesh;
    }
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

// A frame number outside 0..3 shows the nearest board instead of reading
// past the four.
TEST_F(Scenes, ChessboardFrameOutsideTheFourShowsTheNearest) {
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
    EXPECT_NE(frame(1), frame(0));
    EXPECT_EQ(frame(-5), frame(0));
    EXPECT_EQ(frame(7), frame(3));
    glDeleteTextures(4, chessboardTextures);
    std::fill(std::begin(chessboardTextures), std::end(chessboardTextures), 0u);
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
