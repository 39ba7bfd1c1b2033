// halftone_scene.h -- the halftone mesh scene.
//
// One of two meshes (meshH or meshG) drawn three times in one pose: a black
// filled silhouette, a white additive wireframe of its front faces, and a
// twelve-grey stippled halftone whose greys follow a light circling the mesh.
// The frame update computes everything it reads (patterns, light, shade
// levels, wobble); the frame loop sets the camera.
#pragma once

#include <cstdint>

struct Mesh;

// The mesh shown for a halftoneMeshIndex (0: meshH, 1: meshG), its shade
// levels alongside; null outside 0..1.
const Mesh* halftoneMesh(int index, const int32_t** shadeLevels);

// Draws the scene. Leaves flat shading on and lighting off.
void drawHalftoneMeshScene();
