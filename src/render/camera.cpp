// camera.cpp -- projection and camera helpers.
#include "render/camera.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "render/picture_layout.h"

// Orthographic projection for the screen-space layers. The near plane at -1
// keeps quads drawn at z = 0 inside the volume.
void beginOrtho(float left, float right, float bottom, float top) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(left, right, bottom, top, -1.0, 200.0);
    glMatrixMode(GL_MODELVIEW);
}

// Perspective projection for the scenes. The aspect is 1 on purpose: every
// scene was composed for the picture stretched to 4:3, as the start-up
// projection also does. The viewport goes to the shell's picture rectangle,
// which is 640 x 480 at the origin unless a full-screen fallback centres it.
void beginPerspective(float fovY) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluPerspective(fovY, 1.0, 0.01, 200.0);
    applyPictureViewport();
    glMatrixMode(GL_MODELVIEW);
}

// Orbiting camera: the eye moves, the origin stays in the middle of the view.
// It composes with whatever the modelview already holds.
void lookAtOrigin(float x, float y, float z) {
    gluLookAt(x, y, z, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
}

// Camera standing at the origin and turning to look at a point, used to ride
// inside a scene. Composes like lookAtOrigin.
void lookFromOrigin(float x, float y, float z) {
    gluLookAt(0.0, 0.0, 0.0, x, y, z, 0.0, 1.0, 0.0);
}

// The closing half of beginOrtho and beginPerspective.
void endProjection() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
