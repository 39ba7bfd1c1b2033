// volume_scene.cpp -- the cube volume scene: a lattice of textured cubes grown by a brush.
#include "scenes/volume_scene.h"

GLuint volumeCubeTexture = 0;
