// screen_quad.cpp -- the textured 2 x 2 quad the full-screen overlays share.
#include "render/screen_quad.h"

#include <GL/gl.h>

#include "render/camera.h"
#include "render/gl_state.h"

void drawScreenQuad() {
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-1.0f, -1.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(1.0f, -1.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
}

void beginScreenOverlay() {
    glPushMatrix();
    beginUnlitOverlay();
    beginAdditive();
    glEnable(GL_TEXTURE_2D);
    beginOrtho(-1.0f, 1.0f, -1.0f, 1.0f);
}

void endScreenOverlay() {
    endProjection();
    glDisable(GL_TEXTURE_2D);
    endAdditive();
    endUnlitOverlay();
    glPopMatrix();
}
