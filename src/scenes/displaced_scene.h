// displaced_scene.h -- the displaced mesh scene: the camera inside an inflated mesh.
//
// meshI, enlarged five times and pushed out along its normals by a per-vertex
// displacement field, turns about the diagonal (1, 1, 1) around the eye at
// its centre, lit from the eye and sphere-mapped. The field is advanced every
// frame from the first one, so the scene always appears fully inflated.
#pragma once

#include <GL/gl.h>

// "textures/veloppo3.jpg", wrapped by sphere mapping.
extern GLuint displacedSceneTexture;

// The value one vertex's displacement settles on at distance d from the
// source point: e^(1 / (d + 0.01)) * (sin(d degrees) + 1) * 2.5.
float displacementTarget(float d);

// One frame of the field: each value v moves to v + a and, once positive, is
// halved, so it climbs from below and then closes half the gap to a per frame.
void updateDisplacement(float* displacement, const float* vertices, int vertexCount, float sourceX,
                        float sourceY, float sourceZ);

// Draws meshI from inside, turned by spinClock * 0.04 degrees about (1, 1, 1)
// under a 150-degree perspective. The frame loop clears depth afterwards.
void drawDisplacedMeshScene(float spinClock);
