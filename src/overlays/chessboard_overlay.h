// chessboard_overlay.h -- the chessboard overlay's four frames.
#pragma once

#include <GL/gl.h>

// "textures/scacchi.jpg" to "textures/scacchi4.jpg", nearest filtering.
extern GLuint chessboardTextures[4];
