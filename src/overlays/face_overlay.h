// face_overlay.h -- the face overlay's pictures.
#pragma once

#include <GL/gl.h>

// "textures/oruvaface.jpg", "textures/oruvaface_anti.jpg", "textures/viso.jpg".
extern GLuint faceTexture;
extern GLuint faceAntiTexture;
extern GLuint visoTexture;
