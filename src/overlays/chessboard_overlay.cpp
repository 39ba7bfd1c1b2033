// chessboard_overlay.cpp -- the chessboard overlay: a short flicker of board frames.
#include "overlays/chessboard_overlay.h"

#include <algorithm>

#include "render/camera.h"
#include "render/screen_quad.h"
#include "shell/demo_state.h"

GLuint chessboardTextures[4] = {0, 0, 0, 0};

// The schedule only ever asks for 0..3; a stray value must still never read
// past the four names.
int chessboardTextureIndex(int frame) { return std::clamp(frame, 0, 3); }

// Black squares leave the frame as it is, white squares turn it white.
void drawChessboardOverlay() {
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, chessboardTextures[chessboardTextureIndex(cues.chessboardFrame)]);
    beginOrtho(-1.0f, 1.0f, -1.0f, 1.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    drawScreenQuad();
    endScreenOverlay();
}
