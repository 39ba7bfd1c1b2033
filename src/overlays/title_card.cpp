// title_card.cpp -- the opening and closing title cards.
#include "overlays/title_card.h"

#include "render/gl_state.h"
#include "state/demo_state.h"

GLuint introTexture = 0;
GLuint whoTexture = 0;

// Adds the card over everything drawn so far. Additive blending with the
// fade level as a grey modulating colour makes the black of the picture
// leave the frame alone and lets the schedule fade the lettering in and out.
// The card sits at z = -1.5 in front of the eye (the frame loop's -1 plus
// our -0.5), so under the start-up projection it covers the middle of the
// screen, stretched to the 4:3 picture. The right-hand s of 0.99 keeps the
// last hundredth of the picture's width off the card.
void drawTitleCard() {
    beginUnlitOverlay();
    beginAdditive();
    glTranslatef(0.0f, 0.0f, -0.5f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, cues.titleCardFirst ? introTexture : whoTexture);
    const float level = cues.titleFadeLevel;
    glColor3f(level, level, level);
    // Counter-clockwise, so the card survives back-face culling.
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-1.0f, -1.0f, 0.0f);
    glTexCoord2f(0.99f, 0.0f);
    glVertex3f(1.0f, -1.0f, 0.0f);
    glTexCoord2f(0.99f, 1.0f);
    glVertex3f(1.0f, 1.0f, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-1.0f, 1.0f, 0.0f);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    endAdditive();
    endUnlitOverlay();
}
