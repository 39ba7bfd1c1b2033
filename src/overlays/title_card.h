// title_card.h -- the opening and closing title cards.
//
// One picture added onto the finished frame as a flat 2 x 2 card, faded by
// the schedule. The frame loop calls drawTitleCard last, only while the
// card's flag is set, with the modelview saved and moved back by 1 around
// the call.
#pragma once

#include <GL/gl.h>

// "textures/intro.jpg" and "textures/who.jpg", loaded at start-up.
extern GLuint introTexture;
extern GLuint whoTexture;

// Adds the current card (opening card while cues.titleCardFirst is set, else
// the closing card) onto the frame at grey level cues.titleFadeLevel. Leaves
// depth test and lighting on, blending and texturing off.
void drawTitleCard();
