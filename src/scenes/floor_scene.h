// floor_scene.h -- the stencil floor scene's pictures.
#pragma once

#include <GL/gl.h>

// "textures/ecli2_b.jpg" on the mesh pair; "textures/viso.jpg" (its own copy) on the mask mesh.
extern GLuint floorPairTexture;
extern GLuint floorMaskMeshTexture;
