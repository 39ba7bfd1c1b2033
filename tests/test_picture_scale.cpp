// The 640 x 480 picture shown on larger windows: where it is drawn and shown,
// the pixels of the scaled picture against the filter computed here, the
// black around it, and the GL state the present step must hand back intact.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "render/picture_layout.h"
#include "shell/window.h"

namespace {

bool sameRect(const PictureRect& a, const PictureRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

class PictureScale : public ::testing::Test {
protected:
    static void useWindow(int width, int height, bool native = false) {
        std::string reason;
        ASSERT_TRUE(offscreenCreate(width, height, &reason)) << reason;
        usePictureLayout(layoutPicture(width, height, native));
    }
    void TearDown() override {
        useWindow(640, 480);
        glViewport(0, 0, 640, 480);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
};

TEST_F(PictureScale, LayoutDrawsAt640x480WhereverTheWindowIsLarger) {
    const PictureRect origin{0, 0, 640, 480};
    struct Case {
        int width, height;
        bool native;
        PictureRect shown, drawn;
    } cases[] = {
        {640, 480, false, origin, origin},                                   // a real 640 x 480 mode: no copy
        {1920, 1080, false, {240, 0, 1440, 1080}, origin},
        {1920, 1080, true, {240, 0, 1440, 1080}, {240, 0, 1440, 1080}},      // --native: as before
        {1024, 768, false, {0, 0, 1024, 768}, origin},
        {3840, 2160, false, {480, 0, 2880, 2160}, origin},
        {1280, 1024, false, {0, 32, 1280, 960}, origin},                     // a tall screen: bars above and below
        {800, 400, false, {133, 0, 533, 400}, {133, 0, 533, 400}},           // lower than 480: drawn where shown
        {600, 900, false, {0, 225, 600, 450}, {0, 225, 600, 450}},           // narrower than 640
        {700, 480, false, {30, 0, 640, 480}, {30, 0, 640, 480}},             // shown at 640 x 480: no copy
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.native ? " native" : ""));
        const PictureLayout layout = layoutPicture(c.width, c.height, c.native);
        EXPECT_TRUE(sameRect(layout.shown, c.shown));
        EXPECT_TRUE(sameRect(layout.drawn, c.drawn));
        EXPECT_EQ(layout.scaled(), !sameRect(c.shown, c.drawn));
    }
}

// A 640 x 480 test picture with single-pixel lines, a 1-pixel checker and
// smooth ramps, bottom row first as GL holds it.
std::vector<uint8_t> testPicture() {
    std::vector<uint8_t> rgba(640 * 480 * 4);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            uint8_t* p = &rgba[(y * 640 + x) * 4];
            const bool line = x % 32 == 0 || y % 32 == 0, checker = x > 320 && y > 240 && (x + y) % 2;
            p[0] = line || checker ? 255 : uint8_t(x * 255 / 639);
            p[1] = line ? 255 : uint8_t(y * 255 / 479);
            p[2] = checker ? 0 : uint8_t((x ^ y) & 0xff);
            p[3] = 255;
        }
    return rgba;
}

// The filter as specified: nearest to the largest whole multiple k of
// 640 x 480 that fits, then linear (texel centres, edges clamped) to the
// shown size. Channel c of the shown picture at (x, y) from its corner.
struct ScaledReference {
    const std::vector<uint8_t>& source;
    int k, width, height;
    int at(int x, int y, int c) const {  // the k-times enlargement, clamped
        x = std::clamp(x, 0, 640 * k - 1), y = std::clamp(y, 0, 480 * k - 1);
        return source[((y / k) * 640 + x / k) * 4 + c];
    }
    double operator()(int x, int y, int c) const {
        if (640 * k == width) return at(x, y, c);
        const double u = (x + 0.5) * 640 * k / width - 0.5, v = (y + 0.5) * 480 * k / height - 0.5;
        const int u0 = int(std::floor(u)), v0 = int(std::floor(v));
        const double fu = u - u0, fv = v - v0;
        return (1 - fv) * ((1 - fu) * at(u0, v0, c) + fu * at(u0 + 1, v0, c)) +
               fv * ((1 - fu) * at(u0, v0 + 1, c) + fu * at(u0 + 1, v0 + 1, c));
    }
};

// White everywhere, the test picture drawn at the origin, then the present
// step: the window holds the picture scaled as the reference says, black
// outside it (the 640 x 480 corner included where it lies outside).
TEST_F(PictureScale, ShownPictureIsTheFilteredEnlargementWithBlackAround) {
    const std::vector<uint8_t> picture = testPicture();
    for (auto [width, height] : {std::array{1920, 1080}, {1024, 768}, {1280, 1024}, {3840, 2160}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        useWindow(width, height);
        const PictureLayout layout = currentPictureLayout();
        ASSERT_TRUE(layout.scaled());
        glDisable(GL_SCISSOR_TEST);
        glClearColor(1, 1, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
        glPushAttrib(GL_ALL_ATTRIB_BITS);  // what earlier tests left must not reach the test picture
        for (GLenum cap : {GL_DEPTH_TEST, GL_STENCIL_TEST, GL_BLEND, GL_ALPHA_TEST, GL_TEXTURE_2D, GL_FOG})
            glDisable(cap);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glPixelZoom(1, 1);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glWindowPos2i(0, 0);
        glDrawPixels(640, 480, GL_RGBA, GL_UNSIGNED_BYTE, picture.data());
        glPopAttrib();
        showScaledPicture();

        std::vector<uint8_t> shown(size_t(width) * height * 4);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, shown.data());
        const PictureRect& r = layout.shown;
        const ScaledReference reference{picture, std::min(r.width / 640, r.height / 480), r.width, r.height};
        int worst = 0, outside = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = &shown[(size_t(y) * width + x) * 4];
                if (x < r.x || x >= r.x + r.width || y < r.y || y >= r.y + r.height) {
                    outside += p[0] + p[1] + p[2] != 0;
                    continue;
                }
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, int(std::lround(std::abs(p[c] - reference(x - r.x, y - r.y, c)))));
            }
        EXPECT_EQ(outside, 0) << "pixels not black outside the picture";
        EXPECT_LE(worst, 3) << "largest difference from the filter, in 8-bit levels (the rasteriser weighs texels in 1/256ths)";
    }
}

// Every piece of state a frame may leave, set to values unlike the present
// step's own, must read the same after it.
TEST_F(PictureScale, PresentHandsEveryStateBack) {
    useWindow(1920, 1080);
    for (GLenum stack : {GL_TEXTURE, GL_PROJECTION, GL_MODELVIEW}) {
        glMatrixMode(stack);
        glPushMatrix();
    }
    glPushAttrib(GL_ALL_ATTRIB_BITS);  // the tests after this one start from what was there
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    for (GLenum cap : {GL_BLEND, GL_DEPTH_TEST, GL_STENCIL_TEST, GL_LIGHTING, GL_CULL_FACE, GL_TEXTURE_GEN_S,
                       GL_TEXTURE_GEN_T, GL_POLYGON_STIPPLE, GL_ALPHA_TEST, GL_FOG, GL_LINE_SMOOTH, GL_COLOR_MATERIAL})
        glEnable(cap);
    glBlendFunc(GL_ONE, GL_ONE);
    glDepthFunc(GL_GREATER);
    glDepthMask(GL_FALSE);
    glStencilFunc(GL_EQUAL, 1, 0x0f);
    glStencilOp(GL_KEEP, GL_INCR, GL_REPLACE);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
    glColor4f(0.25f, 0.5f, 0.75f, 0.125f);
    glClearColor(0.5f, 0.25f, 0.125f, 1);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glLineWidth(2);
    glPointSize(4);
    glShadeModel(GL_FLAT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_ADD);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 7);
    glViewport(3, 4, 500, 400);
    glMatrixMode(GL_TEXTURE);
    glScalef(2, 3, 4);
    glMatrixMode(GL_PROJECTION);
    glOrtho(-1, 2, -3, 4, -5, 6);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(1, 2, 3);

    const GLenum integers[] = {
        GL_VIEWPORT, GL_SCISSOR_BOX, GL_SCISSOR_TEST, GL_BLEND, GL_BLEND_SRC, GL_BLEND_DST, GL_DEPTH_TEST,
        GL_DEPTH_FUNC, GL_DEPTH_WRITEMASK, GL_STENCIL_TEST, GL_STENCIL_FUNC, GL_STENCIL_REF, GL_STENCIL_VALUE_MASK,
        GL_STENCIL_PASS_DEPTH_FAIL, GL_STENCIL_PASS_DEPTH_PASS, GL_LIGHTING, GL_CULL_FACE, GL_TEXTURE_2D,
        GL_TEXTURE_BINDING_2D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_POLYGON_STIPPLE, GL_POLYGON_MODE,
        GL_ALPHA_TEST, GL_FOG, GL_LINE_SMOOTH, GL_COLOR_MATERIAL, GL_COLOR_WRITEMASK, GL_SHADE_MODEL, GL_DITHER,
        GL_MATRIX_MODE, GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH, GL_TEXTURE_STACK_DEPTH,
        GL_UNPACK_ALIGNMENT, GL_PACK_ROW_LENGTH, GL_READ_BUFFER, GL_DRAW_BUFFER, GL_ATTRIB_STACK_DEPTH};
    const GLenum floats[] = {GL_CURRENT_COLOR, GL_COLOR_CLEAR_VALUE, GL_LINE_WIDTH, GL_POINT_SIZE,
                             GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX, GL_TEXTURE_MATRIX};
    auto snapshot = [&] {
        std::vector<double> values;
        for (GLenum name : integers) {
            GLint v[16] = {};
            glGetIntegerv(name, v);
            values.insert(values.end(), v, v + 16);
        }
        for (GLenum name : floats) {
            GLfloat v[16] = {};
            glGetFloatv(name, v);
            values.insert(values.end(), v, v + 16);
        }
        GLint env = 0, filter = 0;
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
        values.push_back(env);
        values.push_back(filter);
        return values;
    };
    const std::vector<double> before = snapshot();
    showScaledPicture();
    const std::vector<double> after = snapshot();
    for (size_t i = 0; i < before.size(); ++i) {
        const size_t query = i / 16;
        EXPECT_EQ(before[i], after[i]) << "state "
                                       << (query < std::size(integers) ? integers[query]
                                                                        : floats[query - std::size(integers)])
                                       << " component " << i % 16;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    glPopClientAttrib();
    glPopAttrib();
    for (GLenum stack : {GL_TEXTURE, GL_PROJECTION, GL_MODELVIEW}) {
        glMatrixMode(stack);
        glPopMatrix();
    }
    glPopMatrix();
    glDeleteTextures(1, &texture);
}

}  // namespace
