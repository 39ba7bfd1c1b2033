// face_overlay.cpp -- the face overlay: up to three pictures pulsing with the spectrum.
#include "overlays/face_overlay.h"

#include "render/screen_quad.h"

GLuint faceTexture = 0;
GLuint faceAntiTexture = 0;
GLuint visoTexture = 0;

// One layer: the picture times a grey level, added to the frame.
static void addLayer(GLuint texture, float level) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glColor3f(level, level, level);
    drawScreenQuad();
}

// Additive layers under the default modulate environment: black in a picture
// leaves the frame alone, and a loud band, multiplied up by the frame loop,
// shows its picture at full strength and washes the stack towards white.
void drawFaceOverlay(float level1, float level2, float level3, unsigned char layer3On) {
    beginScreenOverlay();
    addLayer(faceTexture, level1);
    addLayer(faceAntiTexture, level2);
    if (layer3On == 1) addLayer(visoTexture, level3);
    endScreenOverlay();
}
