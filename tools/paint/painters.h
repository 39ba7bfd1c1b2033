// painters.h -- one function per picture, shared between the painter's files.
#pragma once

#include <string>

#include "canvas.h"

// Title cards: lettering on black (cards.cpp). They return false with a reason
// when the set text does not fit its box.
bool paintIntroCard(Canvas& canvas, std::string* reason);
bool paintClosingCard(Canvas& canvas, std::string* reason);

// Face layers (faces.cpp).
void paintContourFace(Canvas& canvas);
void paintHollowFace(Canvas& canvas);
void paintMosaicFace(Canvas& canvas);

// Radial layers and sphere maps (light.cpp).
void paintRadialBurst(Canvas& canvas);
void paintCorona(Canvas& canvas);
void paintRedEclipseMap(Canvas& canvas);
void paintBlueEclipseMap(Canvas& canvas);
void paintDuskMap(Canvas& canvas);
void paintAuroraMap(Canvas& canvas);

// Chessboard frame 0..3 (pictures.cpp).
void paintChessboard(Canvas& canvas, int frame);
