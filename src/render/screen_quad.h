// screen_quad.h -- the textured 2 x 2 quad the full-screen overlays share.
#pragma once

// One GL_QUADS quad from (-1, -1) to (1, 1) at z = 0, texture coordinates 0..1
// with t = 0 at the bottom (pictures are stored bottom row first, so they
// show upright). Counter-clockwise, so it survives back-face culling.
void drawScreenQuad();

// The full-screen overlays' pass: saves the modelview, switches lighting off,
// composites additively (depth test off), turns texturing on and saves the
// projection for an orthographic one spanning -1..1 on both axes. The caller
// binds its picture and sets its colour.
void beginScreenOverlay();

// The hand-back: restores both matrices, switches texturing and blending off
// and lighting and the depth test back on, as every scene after them
// expects.
void endScreenOverlay();
