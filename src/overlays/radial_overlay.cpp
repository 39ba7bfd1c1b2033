// radial_overlay.cpp -- the radial overlay: swaying radial layers over the opening scenes.
#include "overlays/radial_overlay.h"

GLuint radialTexture = 0;
GLuint radialTexture2 = 0;
