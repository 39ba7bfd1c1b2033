// fast_forward.cpp -- the rasteriser given nothing for frames that write nothing.
#include "fast_forward.h"

#include <GL/gl.h>

namespace {

// Every primitive of a skipped frame is dropped at clipping, straight after
// the vertex work, by a user clip plane that no vertex lies in front of:
// -w >= 0 holds for no eye-space vertex while the modelview is affine (w
// stays 1), as every effect's is. So the renderer neither sets up nor fills
// anything; the frame's clear and the picture copies of the blow-up are all
// that touch pixels.
//
// GL_RASTERIZER_DISCARD, which would drop the clears as well, is not used:
// on its own it leaves the renderer setting up every primitive for nothing
// (a copy of each draw's vertices, most of a skipped frame's cost in the
// cube volume), and together with the plane this driver went on to lose
// draws in the frames drawn after (the reference stills at 8 s and 18 s).
//
// The plane is the last the implementation has (8 here): above the six that
// the picture blow-up turns off inside its own attribute push, so that its
// scaled quad is dropped too. No effect clips with planes of its own.
constexpr GLdouble kBehindEverything[] = {0.0, 0.0, 0.0, -1.0};

GLenum nothingPlane = 0;
bool skipping = false;
long skipped = 0;

// Given in eye coordinates as they stand: under an identity modelview, the
// matrix mode put back as the frame left it.
void setNothingPlane() {
    GLint planes = 6, mode = GL_MODELVIEW;
    glGetIntegerv(GL_MAX_CLIP_PLANES, &planes);
    nothingPlane = GLenum(GL_CLIP_PLANE0 + (planes > 6 ? planes : 6) - 1);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glClipPlane(nothingPlane, kBehindEverything);
    glPopMatrix();
    glMatrixMode(GLenum(mode));
}

}  // namespace

void fastForwardFrame(bool pictureWanted) {
    if (!pictureWanted) ++skipped;
    if (skipping == !pictureWanted) return;
    skipping = !pictureWanted;
    if (!nothingPlane) setNothingPlane();
    if (skipping) glEnable(nothingPlane);
    else glDisable(nothingPlane);
}

long fastForwardedFrames() { return skipped; }
