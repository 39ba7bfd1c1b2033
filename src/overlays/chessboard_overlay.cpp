// chessboard_overlay.cpp -- the chessboard overlay: a short flicker of board frames.
#include "overlays/chessboard_overlay.h"

GLuint chessboardTextures[4] = {0, 0, 0, 0};
