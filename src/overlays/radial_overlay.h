// radial_overlay.h -- the radial overlay: three tinted layers swaying in depth.
//
// Two pictures in three tinted layers, added onto the frame through a very
// wide perspective so each layer overfills the screen and its small rotation
// tilts it in depth. Drawn before the scenes, so they lie on top of it.
#pragma once

#include <GL/gl.h>

// "textures/radial3.jpg" (its first two layers) and "textures/ecli2_g.jpg" (the third).
extern GLuint radialTexture;
extern GLuint radialTexture2;

// Phase of the sway in degrees: 1 more in every drawn frame, never reset.
extern float radialSpin;

// Advances radialSpin and draws the three layers. Leaves lighting and the
// depth test on, blending and texturing off, both matrices as they were.
void drawRadialOverlay();
