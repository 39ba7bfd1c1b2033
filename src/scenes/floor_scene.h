// floor_scene.h -- the stencil floor scene: two meshes above a floor of pulsing squares.
//
// The floor is no geometry: a slowly turning meshB, squashed flat onto the
// ground plane, is drawn into the stencil buffer only. Inside that mask the
// square grid shows in a warm colour with a copy of meshJ below the floor;
// outside it the grid shows again with squares that pulse with the middle
// band. meshJ and meshB float above, all turning together about (1, 1, 1),
// -0.1 degrees per unit of floorSpinPhase: the music clock pushed on by the
// low band, which the frame update sets while the scene is on.
#pragma once

#include <GL/gl.h>

// "textures/ecli2_b.jpg" on the mesh pair; "textures/viso.jpg" (its own copy) on the mask mesh.
extern GLuint floorPairTexture;
extern GLuint floorMaskMeshTexture;

// Draws the scene with the camera the frame loop set; needs the stencil
// cleared to 0. Leaves the stencil test and lighting off, the stencil
// function at (GL_EQUAL, 0, 1), smooth shading and the colour white.
void drawFloorScene();
