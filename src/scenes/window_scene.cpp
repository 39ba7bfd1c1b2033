// window_scene.cpp -- the silhouette window scene: a mesh with a window cut in a partner's shape.
#include "scenes/window_scene.h"

#include <cmath>

#include "render/gl_state.h"
#include "render/mesh.h"
#include "scenes/bars.h"
#include "scenes/square_grid.h"
#include "state/demo_state.h"

GLuint windowSceneTexture = 0;
float windowSpin = 0.0f;
float windowPulse = 0.0f;

// The meshes pair up as C with D and E with F: each shown mesh's window has
// the shape of its partner (C and D, two balls, also share one face array).
const Mesh* windowShownMesh(int index) {
    const Mesh* const shown[4] = {&meshC, &meshE, &meshD, &meshF};
    return index >= 0 && index < 4 ? shown[index] : nullptr;
}

const Mesh* windowPartnerMesh(int index) {
    const Mesh* const partner[4] = {&meshD, &meshF, &meshC, &meshE};
    return index >= 0 && index < 4 ? partner[index] : nullptr;
}

// The spin uses the pulse from before this update. The pulse climbs by 0.1
// per frame while it is on; in float, ten steps make 1.0000001, which counts
// as complete, so the cycle is eleven frames long and the speed swells from
// one to eleven times the base step, in step with the frame count.
void updateWindowScene(float stepMs) {
    windowSpin += (windowPulse * 10.0f + 1.0f) * stepMs * 0.5f;
    if (cues.windowPulseOn && windowPulse < 1.0f)
        windowPulse += 0.1f;
    else
        windowPulse = 0.0f;
}

// Draws a mesh (nothing when there is none for the current index).
static void drawOptionalMesh(const Mesh* mesh) {
    if (mesh) drawMesh(*mesh);
}

// Stencil window first (partner mesh, depth but no colour), then the window's
// contents where the stencil is 1, then the shown mesh lit and its glow over
// everything. The enlarged copy gets a cleared depth buffer so it is never
// hidden by the partner's depth; the 2D elements draw with depth off anyway.
void drawWindowScene() {
    const Mesh* shown = windowShownMesh(cues.windowMeshIndex);
    const Mesh* partner = windowPartnerMesh(cues.windowMeshIndex);

    const GLfloat centre[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, centre);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.05f);
    glEnable(GL_NORMALIZE);  // left on for the scenes after this one (render/gl_state.h)

    // The angle swings at 0.01 degrees per unit of spin, the axis turns at
    // 0.1. The offsets 30, 20 and 63 are added to the radian arguments as
    // they stand; each axis component stays within 0..1.
    const double s = windowSpin;
    constexpr double swing = 0.01 * kDegToRadDouble, turn = 0.1 * kDegToRadDouble;
    glPushMatrix();
    glRotatef(float(90.0 * std::cos(s * swing)), float(0.5 * (std::cos(s * turn + 30.0) + 1.0)),
              float(0.5 * (std::sin(s * turn + 20.0) + 1.0)), float(0.5 * (std::cos(s * turn + 63.0) + 1.0)));

    beginStencilMask();
    drawOptionalMesh(partner);

    drawInsideStencilMask();

    if (!cues.windowShowsMesh) {
        glPushMatrix();
        glLoadIdentity();
        if (cues.windowElementIndex == 0)
            drawSquareGrid(1.0f, 1.0f, 1.0f);
        else if (cues.windowElementIndex == 1)
            drawBars();
    } else {
        glClear(GL_DEPTH_BUFFER_BIT);
        glPushMatrix();
        glEnable(GL_NORMALIZE);
        glScalef(1.2f, 1.2f, 1.2f);
        glEnable(GL_LIGHTING);
        glColor3f(1.0f, 1.0f, 1.0f);
        drawOptionalMesh(shown);
        glDisable(GL_LIGHTING);
    }
    glPopMatrix();
    endStencilWindow();

    glEnable(GL_LIGHTING);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawOptionalMesh(shown);
    glDisable(GL_LIGHTING);

    beginAdditive();
    beginSphereMapped(windowSceneTexture);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawOptionalMesh(shown);
    endAdditive();
    endSphereMapped();
    glPopMatrix();
}
