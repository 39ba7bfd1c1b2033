// chessboard_overlay.cpp -- the chessboard overlay: a short flicker of board frames.
#include "overlays/chessboard_overlay.h"

#include <algorithm>

#include "render/screen_quad.h"
#include "state/demo_state.h"

GLuint chessboardTextures[4] = {0, 0, 0, 0};

// The schedule only ever asks for 0..3; a stray value must still never read
// past the four names.
int chessboardTextureIndex(int frame) { return std::clamp(frame, 0, 3); }

// Black squares leave the frame as it is, white squares turn it white.
void drawChessboardOverlay() {
    beginScreenOverlay();
    glBindTexture(GL_TEXTURE_2D, chessboardTextures[chessboardTextureIndex(cues.chessboardFrame)]);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawScreenQuad();
    endScreenOverlay();
}
