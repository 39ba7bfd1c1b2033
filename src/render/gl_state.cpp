// gl_state.cpp -- the GL state sequences the scenes and overlays share.
#include "render/gl_state.h"

void beginUnlitOverlay() {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
}

void endUnlitOverlay() {
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
}

void beginAdditive() {
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
}

void endAdditive() {
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
}

void beginSphereMapped(GLuint texture) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
}

void endSphereMapped() {
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
}

void beginStencilMask() {
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 1, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
}

void drawInsideStencilMask() {
    glEnable(GL_DEPTH_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glStencilFunc(GL_EQUAL, 1, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
}

void drawOutsideStencilMask() {
    glStencilFunc(GL_EQUAL, 0, 1);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
}

void endStencilWindow() { glDisable(GL_STENCIL_TEST); }
