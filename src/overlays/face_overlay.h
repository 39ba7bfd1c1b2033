// face_overlay.h -- the face overlay: up to three pictures pulsing with the spectrum.
//
// Each layer is a full-screen picture added onto the frame at a grey level the
// frame loop builds from the bands. The frame loop draws it twice: a weak pass
// under the scenes while the schedule has it on, and a strong pass over them
// in every frame.
#pragma once

#include <GL/gl.h>

// "textures/oruvaface.jpg", "textures/oruvaface_anti.jpg", "textures/viso.jpg".
extern GLuint faceTexture;
extern GLuint faceAntiTexture;
extern GLuint visoTexture;

// Adds layer 1 at level1, layer 2 at level2 and, only when layer3On equals 1,
// layer 3 at level3. Levels above 1 saturate. Leaves lighting and the depth
// test on, blending and texturing off, both matrices as they were.
void drawFaceOverlay(float level1, float level2, float level3, unsigned char layer3On);
