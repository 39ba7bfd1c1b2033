// bars.cpp -- the bar element.
#include "scenes/bars.h"

#include <GL/gl.h>

#include <cmath>

#include "render/camera.h"
#include "state/demo_state.h"

float barPhases[kBarCount];
float barOffsets[kBarCount];
float barColor[3];

// Random phases, multiples of 0.001 below 1; drawn right after the square
// grid's on the shared generator.
void initBars() {
    for (float& phase : barPhases) phase = float(nextRandom() % 1000) * 0.001f;
}

// A completed bar restarts at phase 0 at a new random end position and does
// not move in the update that restarts it. The hue cycle runs off bar 0, with
// the three channels at different speeds and offsets (degrees).
void updateBars(float stepMs) {
    for (int i = 0; i < kBarCount; ++i) {
        if (barPhases[i] < 1.0f) {
            barPhases[i] = stepMs * 0.0001f + barPhases[i];
        } else {
            barPhases[i] = 0.0f;
            barOffsets[i] = float(nextRandom() % 1000) * 0.004f - 2.0f;
        }
    }
    const float p = barPhases[0];
    barColor[0] = (std::cos(90.0f * p * kDegToRad) + 1.0f) * 0.5f;
    barColor[1] = (std::cos((180.0f * p + 45.0f) * kDegToRad) + 1.0f) * 0.5f;
    barColor[2] = (std::cos((360.0f * p + 23.0f) * kDegToRad) + 1.0f) * 0.5f;
}

// Each bar is a unit square scaled to a strip across the whole element: s
// rises from 0 to almost 1 over the phase, so the bar slides to s * offset,
// grows to 0.1 thick and fades from the full colour to black.
void drawBars() {
    beginOrtho(-2.0f, 2.0f, -1.5f, 1.5f);
    glDisable(GL_DEPTH_TEST);
    for (int i = 0; i < kBarCount; ++i) {
        const float s = std::sin(barPhases[i] * 1.57075f);
        glPushMatrix();
        glLoadIdentity();
        if (cues.barsHorizontal) {
            glTranslatef(0.0f, s * barOffsets[i], 0.0f);
            glScalef(2.0f, 0.05f * s, 1.0f);
        } else {
            glTranslatef(s * barOffsets[i], 0.0f, 0.0f);
            glScalef(0.05f * s, 2.0f, 1.0f);
        }
        glColor3f((1.0f - s) * barColor[0], (1.0f - s) * barColor[1], (1.0f - s) * barColor[2]);
        glBegin(GL_QUADS);
        glVertex2f(-1.0f, -1.0f);
        glVertex2f(1.0f, -1.0f);
        glVertex2f(1.0f, 1.0f);
        glVertex2f(-1.0f, 1.0f);
        glEnd();
        glPopMatrix();
    }
    glEnable(GL_DEPTH_TEST);
    endProjection();
}
