// Projection and camera helpers: the matrices they build, the stack depth
// they leave, the viewport, and that cameras compose rather than reset.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "offscreen_gl.h"
#include "render/camera.h"
#include "render/picture_layout.h"
#include "shell/window.h"

namespace {

using Matrix = std::array<GLfloat, 16>;

Matrix current(GLenum which) {
    Matrix m{};
    return glGetFloatv(which, m.data()), m;
}
GLint integer(GLenum which) {
    GLint v = 0;
    return glGetIntegerv(which, &v), v;
}
std::array<GLint, 4> viewport() {
    std::array<GLint, 4> v{};
    return glGetIntegerv(GL_VIEWPORT, v.data()), v;
}

void expectNear(const Matrix& a, const Matrix& b) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], b[i], 1e-5f) << "element " << i;
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
        glLoadIdentity();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
};

// Where a point in eye space lands in normalised device coordinates under
// the current projection.
std::array<float, 3> projected(const std::array<float, 3>& eye) {
    const Matrix p = current(GL_PROJECTION_MATRIX);
    float clip[4];
    for (int i = 0; i < 4; ++i) clip[i] = p[i] * eye[0] + p[4 + i] * eye[1] + p[8 + i] * eye[2] + p[12 + i];
    return {clip[0] / clip[3], clip[1] / clip[3], clip[2] / clip[3]};
}

// Each projection pushes one level and leaves the modelview current. Its
// volume reaches exactly the corners asked for: the ortho box from the
// plane z = 1 to 200 away; the perspective one square (aspect 1, the picture
// stretched to 4:3) at the field of view, from 0.01 to 200 away. Perspective
// sets the viewport to the picture rectangle, orthographic keeps whatever
// viewport is set.
TEST_F(Camera, ProjectionsPushBuildSetTheViewportAndLeaveModelviewCurrent) {
    const auto corners = [](float fovY) {  // the near and the far corner, and where they land
        const float t = std::tan(fovY / 2 * float(M_PI) / 180);
        return std::array<std::array<float, 3>, 4>{{{0.01f * t, -0.01f * t, -0.01f}, {1, -1, -1},
                                                     {-200 * t, 200 * t, -200}, {-1, 1, 1}}};
    };
    struct Case {
        const char* name;
        void (*begin)();
        std::array<std::array<float, 3>, 4> corners;  // eye point, device point, twice
        PictureRect rect;
        std::array<GLint, 4> viewport;  // expected, from 5, 6, 70, 80 before the call
    } cases[] = {
        {"ortho", [] { beginOrtho(-2, 2, -1.5f, 1.5f); }, {{{2, 1.5f, 1}, {1, 1, -1}, {-2, -1.5f, -200}, {-1, -1, 1}}},
         {}, {5, 6, 70, 80}},
        {"perspective 120", [] { beginPerspective(120); }, corners(120), {}, {0, 0, 640, 480}},
        {"perspective 45, wide window", [] { beginPerspective(45); }, corners(45), {160, 0, 960, 720},
         {160, 0, 960, 720}},
        {"perspective 120, tall window", [] { beginPerspective(120); }, corners(120), {0, 60, 640, 480},
         {0, 60, 640, 480}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glScalef(3, 3, 3);  // a recognisable matrix to come back to
        const Matrix before = current(GL_PROJECTION_MATRIX);
        const GLint depth = integer(GL_PROJECTION_STACK_DEPTH);
        glMatrixMode(GL_MODELVIEW);
        pictureRect = c.rect;
        glViewport(5, 6, 70, 80);

        c.begin();
        EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
        EXPECT_EQ(integer(GL_PROJECTION_STACK_DEPTH), depth + 1);
        for (int k = 0; k < 4; k += 2) {
            const std::array<float, 3> device = projected(c.corners[k]);
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(device[i], c.corners[k + 1][i], 1e-4f) << "corner " << k / 2;
        }
        EXPECT_EQ(viewport(), c.viewport);
        c.begin();
        EXPECT_EQ(integer(GL_PROJECTION_STACK_DEPTH), depth + 2);

        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        EXPECT_EQ(integer(GL_PROJECTION_STACK_DEPTH), depth);
        expectNear(current(GL_PROJECTION_MATRIX), before);
    }
}

// Where an object-space point lands in eye space after a camera call: straight
// ahead, up kept up, and an earlier translation or camera kept, since the
// cameras compose rather than reset.
TEST_F(Camera, CamerasPointWhereAskedAndComposeWithTheModelview) {
    struct Case {
        const char* name;
        float before;  // translation along z already on the modelview
        void (*camera)();
        std::array<float, 3> point, eye;
    } cases[] = {
        {"at the origin from +z", 0, [] { lookAtOrigin(0, 0, 5); }, {0, 0, 0}, {0, 0, -5}},
        {"at the origin from the side", 0, [] { lookAtOrigin(3, 0, 0); }, {0, 2, 0}, {0, 2, -3}},
        {"from the origin along +x", 0, [] { lookFromOrigin(4, 0, 0); }, {4, 0, 0}, {0, 0, -4}},
        {"from the origin along -z, composed", -7, [] { lookFromOrigin(0, 0, -1); }, {0, 0, 0}, {0, 0, -7}},
        {"at the origin from +z, twice", 0, [] { lookAtOrigin(0, 0, 5), lookAtOrigin(0, 0, 5); }, {0, 0, 0},
         {0, 0, -10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        glLoadIdentity();
        glTranslatef(0, 0, c.before);
        c.camera();
        const Matrix m = current(GL_MODELVIEW_MATRIX);
        const auto [x, y, z] = c.point;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(m[i] * x + m[4 + i] * y + m[8 + i] * z + m[12 + i], c.eye[i], 1e-5);
    }
}

}  // namespace
