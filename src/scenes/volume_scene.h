// volume_scene.h -- the cube volume scene: a lattice of textured cubes grown by a brush.
//
// A 30 x 30 x 30 lattice of cubes whose sizes are the cells of volumeGrid. An
// invisible brush runs once round a circle or wanders through the volume, as
// the schedule says, and grows the cells near it; while it is not circling,
// every cell shrinks at a rate tied to the time step and the low band. Each
// non-empty cell is a lit, sphere-mapped cube with a white wire outline; the
// whole lattice swings about (1, 1, 0). The brush is also the light, and the
// point one camera looks at.
#pragma once

#include <GL/gl.h>

// "textures/veloppo.jpg", on the lattice's cubes.
extern GLuint volumeCubeTexture;

extern float brushPoint[3];  // brush position in lattice units, cell (i, j, k) at (i - 15, j - 15, k - 15)
extern float brushAngle;     // degrees round the circle
extern float volumeTilt;     // degrees about (1, 1, 0)

// One frame: tilt from the clock, brush step, growth near the brush, decay.
// clock is a scaled music clock (degrees of the wander path), stepMs the
// time step of the brush and the decay (milliseconds of music plus a push
// from the low band). Runs only while the scene is on.
void updateVolumeScene(float clock, float stepMs);

// Draws every non-empty cell as a filled and a wire cube with the camera the
// frame loop set. Leaves culling off, GL_NORMALIZE on, smooth shading.
void drawVolumeScene();
