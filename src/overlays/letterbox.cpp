// letterbox.cpp -- the letterbox bars.
#include "overlays/letterbox.h"

#include <GL/gl.h>

#include "render/camera.h"
#include "render/gl_state.h"
#include "state/demo_state.h"

// Both bars run counter-clockwise for every edge below 1, so culling never
// drops them; past 0 they overlap and still cover everything.
void drawLetterbox() {
    const float e = cues.letterboxEdge;
    beginUnlitOverlay();
    beginOrtho(-1.0f, 1.0f, -1.0f, 1.0f);
    glColor3f(0.0f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex3f(1.0f, 1.0f, 0.0f);
    glVertex3f(-1.0f, 1.0f, 0.0f);
    glVertex3f(-1.0f, e, 0.0f);
    glVertex3f(1.0f, e, 0.0f);
    glVertex3f(-1.0f, -1.0f, 0.0f);
    glVertex3f(1.0f, -1.0f, 0.0f);
    glVertex3f(1.0f, -e, 0.0f);
    glVertex3f(-1.0f, -e, 0.0f);
    glEnd();
    endProjection();
    endUnlitOverlay();
}
