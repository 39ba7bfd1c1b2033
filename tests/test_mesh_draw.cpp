// The mesh drawing operations, checked by what they put on screen in the
// offscreen context, and the halftone's level and pattern arithmetic.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "render/mesh.h"
#include "state/demo_state.h"
#include "test_generator_util.h"

namespace {

TEST(MeshShadeLevels, BandsOfTheLightAngle) {
    // light along each axis in turn (deliberately not unit length): d is the
    // normal's component on that axis, the rest on the next axis round
    struct Case {
        float d;
        int level;
    };
    const Case cases[] = {
        {1.0f, 0},  // exactly facing the light wraps round to the darkest band
        {0.999f, 11}, {0.5f, 6}, {0.09f, 1}, {0.0833f, 0}, {0.25f, 3},  // bands of a twelfth
        {0.0f, 0}, {-0.3f, 0}, {-1.0f, 0},                              // facing away: always level 0
    };
    const int count = int(std::size(cases));
    std::vector<float> normals(3 * count);
    std::vector<int32_t> levels(count + 1, -7);
    for (int axis = 0; axis < 3; ++axis) {
        for (int k = 0; k < count; ++k) {
            normals[3 * k + axis] = cases[k].d;
            normals[3 * k + (axis + 1) % 3] = std::sqrt(std::fmax(0.0f, 1 - cases[k].d * cases[k].d));
            normals[3 * k + (axis + 2) % 3] = 0;
        }
        computeShadeLevels(axis == 0 ? 5.0f : 0, axis == 1 ? 5.0f : 0, axis == 2 ? 5.0f : 0, normals.data(),
                           levels.data(), count);
        for (int k = 0; k < count; ++k)
            EXPECT_EQ(levels[k], cases[k].level) << "d = " << cases[k].d << ", axis " << axis;
        EXPECT_EQ(levels[count], -7) << "wrote past vertexCount";
    }

    // a light with no direction gives level 0, not a level made from NaN
    computeShadeLevels(0, 0, 0, normals.data(), levels.data(), count);
    for (int k = 0; k < count; ++k) EXPECT_EQ(levels[k], 0);
    // no vertices, nothing written
    levels[0] = 9;
    computeShadeLevels(1, 0, 0, normals.data(), levels.data(), 0);
    EXPECT_EQ(levels[0], 9);
}

TEST(MeshHalftonePatterns, EachPatternKeepsItsBitsAndDrawsOncePerByte) {
    const uint32_t savedState = randomState;
    randomState = 1;
    for (int round = 0; round < 3; ++round) {
        const uint32_t before = randomState;
        refreshHalftonePatterns();
        // the first byte is the low byte of the first draw
        uint32_t state = before;
        EXPECT_EQ(halftonePatterns[0][0], testgen::drawsFrom(state, 1)[0] & 0xFF);
        // one draw per byte: 12 x 128 of them
        EXPECT_EQ(randomState, testgen::stateAfter(before, kHalftoneLevels * kStippleBytes));

        for (int index = 0; index < kHalftoneLevels; ++index)
            for (uint8_t v : halftonePatterns[index]) {
                // 0..7 keep only their low 8 - index bits; from 8 on r mod
                // 2^(index - 8), minus one, so pattern 8 is solid
                const bool ok = index < 8 ? v < (1 << (8 - index)) : v == 0xFF || v <= (1 << (index - 8)) - 2;
                EXPECT_TRUE(ok) << "pattern " << index << ": " << int(v);
            }
    }
    // pattern 7 is all ones and zeros in bit 0, and both occur
    int ones = 0;
    for (uint8_t v : halftonePatterns[7]) ones += v;
    EXPECT_GT(ones, 20);
    EXPECT_LT(ones, 108);
    randomState = savedState;
}

class MeshDraw : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        ASSERT_TRUE(offscreenCreate(640, 480, &reason)) << reason;
        fixUpAllMeshes();
        glViewport(0, 0, 640, 480);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-2, 2, -1.5, 1.5, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        for (GLenum cap : {GL_LIGHTING, GL_TEXTURE_2D, GL_BLEND, GL_CULL_FACE, GL_POLYGON_STIPPLE, GL_DEPTH_TEST,
                           GL_STENCIL_TEST, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T})
            glDisable(cap);
        glDepthFunc(GL_LESS);
        glShadeModel(GL_SMOOTH);
        std::memcpy(savedPatterns, halftonePatterns, sizeof savedPatterns);
        warmUpStipple();
        clear();
    }
    // Mesa's software rasteriser (22.x) compares each new stipple with the
    // last one it used, starting from all zeros although the real initial
    // pattern is solid, so an all-zero first pattern never takes effect. One
    // stippled draw with a solid pattern puts a real pattern in its cache.
    static void warmUpStipple() {
        uint8_t pattern[kStippleBytes];
        std::memset(pattern, 0xFF, sizeof pattern);
        glEnable(GL_POLYGON_STIPPLE);
        glPolygonStipple(pattern);
        glRectf(-0.01f, -0.01f, 0.01f, 0.01f);
        glDisable(GL_POLYGON_STIPPLE);
    }
    void TearDown() override {
        std::memcpy(halftonePatterns, savedPatterns, sizeof savedPatterns);
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    static void clear(float r = 0.2f, float g = 0.4f, float b = 0.9f) {
        glClearColor(r, g, b, 1);
        glClearDepth(1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
    // Pixel at window coordinates (x to the right, y down from the top).
    static std::array<int, 3> pixel(const std::vector<uint8_t>& rgb, int x, int y) {
        const uint8_t* p = &rgb[(size_t(y) * 640 + x) * 3];
        return {p[0], p[1], p[2]};
    }
    static std::array<int, 3> centre() { return pixel(offscreenReadRgb(), 320, 240); }
    uint8_t savedPatterns[kHalftoneLevels][kStippleBytes];
};

// One square facing the viewer, corners counter-clockwise, normals +z.
const float kSquare[] = {-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0.5f, 0.5f, 0, -0.5f, 0.5f, 0};
const float kSquareNormals[] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
const MeshFace kSquareFace[] = {{{0, 1, 2, 3}}};
const std::array<int, 3> kBackground = {51, 102, 230};

// Each face is drawn in exactly one pass, that of the truncated average of
// its corners' levels, with that pass's grey (a sixth per pass, white from 6)
// and that pass's pattern.
TEST_F(MeshDraw, HalftoneDrawsEachFaceInThePassOfItsAverageLevelThroughItsPattern) {
    struct Case {
        int32_t levels[4];
        int pass;
        int grey;
    };
    const Case cases[] = {
        {{11, 11, 11, 10}, 10, 255}, {{0, 0, 0, 3}, 0, 0}, {{11, 11, 11, 11}, 11, 255},
        {{5, 6, 6, 6}, 5, 213},       {{1, 2, 3, 4}, 2, 85}, {{3, 3, 3, 3}, 3, 128},
    };
    for (const Case& c : cases) {
        std::vector<int> drawnIn;
        for (int pass = 0; pass < kHalftoneLevels; ++pass) {
            // only this pass's pattern lets anything through
            std::memset(halftonePatterns, 0, sizeof halftonePatterns);
            std::memset(halftonePatterns[pass], 0xFF, kStippleBytes);
            clear();
            drawMeshHalftone(c.levels, kSquareFace, kSquare, 1);
            const auto rgb = centre();
            if (rgb != kBackground) {
                drawnIn.push_back(pass);
                EXPECT_NEAR(rgb[0], c.grey, 1);
                EXPECT_EQ(rgb[0], rgb[1]);
                EXPECT_EQ(rgb[1], rgb[2]);
            }
        }
        EXPECT_EQ(drawnIn, std::vector<int>{c.pass}) << "levels " << c.levels[0] << "," << c.levels[1] << ","
                                                     << c.levels[2] << "," << c.levels[3];
        EXPECT_FALSE(glIsEnabled(GL_POLYGON_STIPPLE));
    }
    // The pattern thins the coverage: half-empty pattern rows leave every
    // other column of the face undrawn.
    std::memset(halftonePatterns, 0, sizeof halftonePatterns);
    std::memset(halftonePatterns[8], 0x55, kStippleBytes);
    const int32_t levels[4] = {8, 8, 8, 8};
    clear();
    drawMeshHalftone(levels, kSquareFace, kSquare, 1);
    const auto rgb = offscreenReadRgb();
    int drawn = 0;
    for (int x = 300; x < 340; ++x) drawn += pixel(rgb, x, 240) != kBackground;
    EXPECT_EQ(drawn, 20);
}

// Positions only, depth test off during the call and on after it, whatever
// it was before; the current normal is left alone.
TEST_F(MeshDraw, PositionsNoDepthIgnoresDepthAndLeavesTheTestOn) {
    for (bool depthBefore : {false, true}) {
        clear();
        glClearDepth(0);  // everything already "nearer" than anything drawn
        glClear(GL_DEPTH_BUFFER_BIT);
        glClearDepth(1);
        glEnable(GL_DEPTH_TEST);
        glColor3f(1, 0, 0);
        drawMesh(kSquare, kSquareNormals, kSquareFace, 1);
        EXPECT_EQ(centre(), kBackground) << "the depth test should have hidden the ordinary draw";

        if (!depthBefore) glDisable(GL_DEPTH_TEST);
        glNormal3f(0.25f, 0.5f, 0.75f);
        drawMeshPositionsNoDepth(kSquare, kSquareFace, 1);
        EXPECT_EQ(centre(), (std::array<int, 3>{255, 0, 0}));
        EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST)) << "depth test was " << (depthBefore ? "on" : "off");
        std::array<GLfloat, 3> n;
        glGetFloatv(GL_CURRENT_NORMAL, n.data());
        EXPECT_EQ(n, (std::array<GLfloat, 3>{0.25f, 0.5f, 0.75f})) << "the current normal is left alone";
    }
    glDisable(GL_DEPTH_TEST);
}

// drawMesh sends each corner's own normal: with two corners facing the light
// and two facing away, the smooth-shaded square is bright on one side and
// dark on the other. A face count of 0 draws nothing and is no error.
TEST_F(MeshDraw, DrawMeshSendsPerCornerNormals) {
    const float normals[] = {0, 0, 1, 0, 0, -1, 0, 0, -1, 0, 0, 1};  // left corners lit, right corners not
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    const GLfloat light[4] = {0, 0, 1, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, light);
    drawMesh(kSquare, normals, kSquareFace, 1);
    const auto rgb = offscreenReadRgb();
    const int left = pixel(rgb, 320 - 70, 240)[0], right = pixel(rgb, 320 + 70, 240)[0];
    EXPECT_GT(left, right + 60);
    GLfloat last[3];
    glGetFloatv(GL_CURRENT_NORMAL, last);
    EXPECT_EQ(last[2], 1.0f) << "the last corner's normal is the current one";

    clear();
    drawMesh(kSquare, normals, kSquareFace, 0);
    drawMesh(kSquare, normals, kSquareFace, -3);
    EXPECT_EQ(centre(), kBackground);
}

// Corners move along their own normals by their own amounts: the cube's
// corners (normals along the diagonals) pushed out by sqrt(3)/2 reach 1.5.
TEST_F(MeshDraw, DisplacedCornersMoveAlongTheirNormals) {
    glColor3f(1, 1, 1);
    const float none[8] = {};
    float out[8];
    for (float& amount : out) amount = 0.8660254f;
    // x = 1.25 in the -2..2 view is pixel 520; y = 0 is row 240
    drawMeshDisplaced(meshA.vertices, meshA.normals, meshA.faces, meshA.faceCount, none);
    auto rgb = offscreenReadRgb();
    EXPECT_EQ(pixel(rgb, 520, 240), kBackground);
    EXPECT_EQ(pixel(rgb, 400, 240), (std::array<int, 3>{255, 255, 255}));
    clear();
    drawMeshDisplaced(meshA.vertices, meshA.normals, meshA.faces, meshA.faceCount, out);
    rgb = offscreenReadRgb();
    EXPECT_EQ(pixel(rgb, 520, 240), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(pixel(rgb, 560, 240), kBackground);  // x = 1.5 is the new edge
}

}  // namespace
