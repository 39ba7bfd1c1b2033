// chessboard_overlay.h -- the chessboard overlay: a short flicker of board frames.
//
// One of four chessboard pictures added onto the whole frame at full
// strength; the schedule steps through them.
#pragma once

#include <GL/gl.h>

// "textures/scacchi.jpg" to "textures/scacchi4.jpg", nearest filtering.
extern GLuint chessboardTextures[4];

// The picture shown for a frame number: 0..3 as they are, anything else
// clamped into that range.
int chessboardTextureIndex(int frame);

// Adds picture cues.chessboardFrame over the frame. Leaves lighting and the
// depth test on, blending and texturing off, both matrices as they were.
void drawChessboardOverlay();
