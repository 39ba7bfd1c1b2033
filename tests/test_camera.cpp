// Projection and camera helpers: the matrices they build, the stack depth
// they leave, the viewport, and that cameras compose rather than reset.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "offscreen_gl.h"
#include "render/camera.h"
#include "shell/window.h"

namespace {

using Matrix = std::array<GLfloat, 16>;

Matrix current(GLenum which) {
    Matrix m{};
    glGetFloatv(which, m.data());
    return m;
}

GLint integer(GLenum which) {
    GLint v = 0;
    glGetIntegerv(which, &v);
    return v;
}

// What GL itself builds from the given calls, for comparison.
template <typename Fn>
Matrix built(GLenum mode, GLenum which, Fn calls) {
    glMatrixMode(mode);
    glPushMatrix();
    glLoadIdentity();
    calls();
    const Matrix m = current(which);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    return m;
}

void expectNear(const Matrix& a, const Matrix& b) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], b[i], 1e-5f) << "element " << i;
}

// Eye-space position of an object-space point under the current modelview.
std::array<float, 3> toEye(float x, float y, float z) {
    const Matrix m = current(GL_MODELVIEW_MATRIX);
    return {m[0] * x + m[4] * y + m[8] * z + m[12], m[1] * x + m[5] * y + m[9] * z + m[13],
            m[2] * x + m[6] * y + m[10] * z + m[14]};
}

class Camera : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        ASSERT_TRUE(offscreenCreate(640, 480, &reason)) << reason;
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    void TearDown() override {
        pictureRect = PictureRect{};
        glViewport(0, 0, 640, 480);
    }
};

TEST_F(Camera, ProjectionsPushBuildAndLeaveModelviewCurrent) {
    struct Case {
        const char* name;
        void (*begin)();
        void (*reference)();
    } cases[] = {
        {"overlay ortho", [] { beginOrtho(-1, 1, -1, 1); }, [] { glOrtho(-1, 1, -1, 1, -1, 200); }},
        {"element ortho", [] { beginOrtho(-2, 2, -1.5f, 1.5f); }, [] { glOrtho(-2, 2, -1.5, 1.5, -1, 200); }},
        {"perspective 120", [] { beginPerspective(120); }, [] { gluPerspective(120, 1, 0.01, 200); }},
        {"perspective 45", [] { beginPerspective(45); }, [] { gluPerspective(45, 1, 0.01, 200); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Matrix expected = built(GL_PROJECTION, GL_PROJECTION_MATRIX, c.reference);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glScalef(3, 3, 3);  // a recognisable matrix to come back to
        const Matrix before = current(GL_PROJECTION_MATRIX);
        const GLint depth = integer(GL_PROJECTION_STACK_DEPTH);
        glMatrixMode(GL_MODELVIEW);

        c.begin();
        EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
        EXPECT_EQ(integer(GL_PROJECTION_STACK_DEPTH), depth + 1);
        expectNear(current(GL_PROJECTION_MATRIX), expected);
        c.begin();  // nested: one more level each time
        EXPECT_EQ(integer(GL_PROJECTION_STACK_DEPTH), depth + 2);

        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        EXPECT_EQ(integer(GL_PROJECTION_STACK_DEPTH), depth);
        expectNear(current(GL_PROJECTION_MATRIX), before);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Camera, PerspectiveViewportIsThePictureRectangle) {
    const PictureRect rects[] = {{0, 0, 640, 480}, {160, 0, 960, 720}, {0, 60, 640, 480}};
    for (const PictureRect& r : rects) {
        pictureRect = r;
        glViewport(1, 2, 3, 4);
        beginPerspective(120);
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        EXPECT_EQ(vp[0], r.x);
        EXPECT_EQ(vp[1], r.y);
        EXPECT_EQ(vp[2], r.width);
        EXPECT_EQ(vp[3], r.height);
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
    }
    // The orthographic layers keep whatever viewport is set.
    glViewport(5, 6, 70, 80);
    beginOrtho(-1, 1, -1, 1);
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], 70);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

TEST_F(Camera, CamerasPointWhereAskedAndComposeWithTheModelview) {
    // Looking at the origin from (0, 0, 5): the origin is 5 in front.
    glLoadIdentity();
    lookAtOrigin(0, 0, 5);
    auto p = toEye(0, 0, 0);
    EXPECT_NEAR(p[0], 0, 1e-5);
    EXPECT_NEAR(p[1], 0, 1e-5);
    EXPECT_NEAR(p[2], -5, 1e-5);
    // From the side, up stays up.
    glLoadIdentity();
    lookAtOrigin(3, 0, 0);
    p = toEye(0, 2, 0);
    EXPECT_NEAR(p[1], 2, 1e-5);
    EXPECT_NEAR(p[2], -3, 1e-5);
    // From the origin towards (4, 0, 0): that point lies straight ahead.
    glLoadIdentity();
    lookFromOrigin(4, 0, 0);
    p = toEye(4, 0, 0);
    EXPECT_NEAR(p[0], 0, 1e-5);
    EXPECT_NEAR(p[2], -4, 1e-5);

    // Twice is the product, not a reset.
    const Matrix once = built(GL_MODELVIEW, GL_MODELVIEW_MATRIX, [] { gluLookAt(1, 2, 3, 0, 0, 0, 0, 1, 0); });
    glLoadIdentity();
    lookAtOrigin(1, 2, 3);
    lookAtOrigin(1, 2, 3);
    const Matrix twice = current(GL_MODELVIEW_MATRIX);
    glLoadMatrixf(once.data());
    glMultMatrixf(once.data());
    expectNear(twice, current(GL_MODELVIEW_MATRIX));
    glLoadIdentity();
    glTranslatef(0, 0, -7);
    lookFromOrigin(0, 0, -1);  // looking down -z from the origin changes nothing
    p = toEye(0, 0, 0);
    EXPECT_NEAR(p[2], -7, 1e-5);
    glLoadIdentity();
}

}  // namespace
