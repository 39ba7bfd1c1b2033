// radial_overlay.cpp -- the radial overlay: three tinted layers swaying in depth.
#include "overlays/radial_overlay.h"

#include <cmath>

#include "render/camera.h"
#include "render/gl_state.h"
#include "render/screen_quad.h"
#include "state/demo_state.h"

GLuint radialTexture = 0;
GLuint radialTexture2 = 0;
float radialSpin = 0.0f;

// One layer: tinted, turned by angle degrees about its own axis.
static void drawLayer(float red, float green, float blue, float angle, float ax, float ay, float az) {
    glColor3f(red, green, blue);
    glPushMatrix();
    glRotatef(angle, ax, ay, az);
    drawScreenQuad();
    glPopMatrix();
}

// At distance 0.1 under a 160-degree field of view the 2 x 2 quad is larger
// than the view, so only the middle of each picture shows. The sway steps
// once per drawn frame, so its speed follows the frame rate; the three tints
// are rotations of one colour triple.
void drawRadialOverlay() {
    beginPerspective(160.0f);
    beginUnlitOverlay();
    beginAdditive();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, radialTexture);
    glPushMatrix();
    glTranslatef(0.0f, 0.0f, -0.1f);

    radialSpin += 1.0f;
    const float a = radialSpin * kDegToRad;
    const float sinA = std::sin(a), cosA = std::cos(a);
    drawLayer(0.0f, 0.81f, 0.51f, 5.5f * cosA, 0.2f * sinA, 0.112f * cosA, 0.152f * cosA);
    drawLayer(0.51f, 0.0f, 0.81f, 6.0f * sinA, 0.3f * sinA, 0.142f * cosA, 0.52f * cosA);
    glBindTexture(GL_TEXTURE_2D, radialTexture2);
    drawLayer(0.81f, 0.51f, 0.0f, 5.0f * sinA, 0.2f * sinA, 0.042f * cosA, 0.062f * cosA);

    glPopMatrix();
    glDisable(GL_TEXTURE_2D);
    endAdditive();
    endProjection();
    endUnlitOverlay();
}
