// square_grid.cpp -- the square-grid element.
#include "scenes/square_grid.h"

#include <GL/gl.h>

#include <cmath>

#include "render/camera.h"
#include "state/demo_state.h"

float squareGridPhases[kGridColumns * kGridRows];

// Phases are multiples of 0.001 below 1, so the squares start spread over
// their whole cycle. The draws follow the halftone patterns' and precede the
// bars' on the shared generator.
void initSquareGrid() {
    for (float& phase : squareGridPhases) phase = float(nextRandom() % 1000) * 0.001f;
}

// A fixed step per frame, not per millisecond: a square's cycle (about 101
// frames) runs faster on a faster machine. A phase that reached or passed 1.0
// was shown at full level once and now restarts.
void updateSquareGrid() {
    for (float& phase : squareGridPhases) {
        if (phase < 1.0f)
            phase += 0.01f;
        else
            phase = 0.0f;
    }
}

// One quad per square in the element's -2..2 by -1.5..1.5 space, columns
// outermost. Squares at level 0 are drawn too, as black; with a half-size
// above 0.05 neighbours overlap and the later one wins.
void drawSquareGridSized(float red, float green, float blue, float halfSize) {
    beginOrtho(-2.0f, 2.0f, -1.5f, 1.5f);
    glDisable(GL_DEPTH_TEST);
    const float h = halfSize;
    for (int m = 0; m < kGridColumns; ++m) {
        const float x = float(m) * 0.025f * 4.0f - 2.0f;
        for (int n = 0; n < kGridRows; ++n) {
            const float y = float(n) * 0.033333335f * 3.0f - 1.5f;
            const float level = std::sin(squareGridPhases[m * kGridRows + n] * 1.57075f);
            glPushMatrix();
            glLoadIdentity();
            glTranslatef(x, y, 0.0f);
            glColor3f(red * level, green * level, blue * level);
            glBegin(GL_QUADS);
            glVertex2f(-h, -h);
            glVertex2f(h, -h);
            glVertex2f(h, h);
            glVertex2f(-h, h);
            glEnd();
            glPopMatrix();
        }
    }
    glEnable(GL_DEPTH_TEST);
    endProjection();
}

// The frame update sets the half-size from the middle band, so these squares
// pulse with the music.
void drawSquareGrid(float red, float green, float blue) {
    drawSquareGridSized(red, green, blue, gridSquareHalfSize);
}
