// volume_scene.h -- the cube volume scene's picture.
#pragma once

#include <GL/gl.h>

// "textures/veloppo.jpg", on the lattice's cubes.
extern GLuint volumeCubeTexture;
