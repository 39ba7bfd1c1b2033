// floor_scene.cpp -- the stencil floor scene: two meshes above a floor of pulsing squares.
#include "scenes/floor_scene.h"

GLuint floorPairTexture = 0;
GLuint floorMaskMeshTexture = 0;
