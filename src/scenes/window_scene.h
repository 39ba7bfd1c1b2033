// window_scene.h -- the silhouette window scene.
//
// One of four meshes tumbles about a wandering axis, lit from its centre and
// overlaid with an additive sphere-mapped glow. Before it is drawn, the
// stencil buffer cuts a window in the silhouette of a partner mesh in the
// same pose; the window shows an enlarged copy of the shown mesh or one of
// the two 2D elements. The tumbling speed follows the high band and a pulse
// that the schedule switches on.
#pragma once

#include <GL/gl.h>

struct Mesh;

// "textures/ecli2_r.jpg", wrapped by sphere mapping.
extern GLuint windowSceneTexture;

extern float windowSpin;   // accumulated tumbling phase, grows for the whole run
extern float windowPulse;  // 0, 0.1, ..., 1.0000001 while the pulse runs, else 0

// The shown mesh and its partner (the window's shape) for a windowMeshIndex;
// both null outside 0..3.
const Mesh* windowShownMesh(int index);
const Mesh* windowPartnerMesh(int index);

// Advances the spin by (pulse * 10 + 1) * stepMs / 2, then steps the pulse.
// Runs every frame, shown or not; stepMs is milliseconds of music plus a push
// from the high band.
void updateWindowScene(float stepMs);

// Draws the scene with the eye the frame loop has set (at (0, 0, 20) looking
// at the origin), the stencil cleared to 0 and the depth test on. Leaves
// GL_NORMALIZE on and light 0 at the mesh centre with attenuation 0.05.
void drawWindowScene();
