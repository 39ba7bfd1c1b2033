// radial_overlay.h -- the radial overlay's pictures.
#pragma once

#include <GL/gl.h>

// "textures/radial3.jpg" (its first two layers) and "textures/ecli2_g.jpg" (the third).
extern GLuint radialTexture;
extern GLuint radialTexture2;
