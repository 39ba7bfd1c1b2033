// letterbox.h -- the letterbox bars: black bars at top and bottom, closing at the end.
#pragma once

// Draws opaque black bars from the screen's top and bottom edges to
// cues.letterboxEdge (in -1..1 units; 0.8 covers 48 of 480 rows each). At 0
// and below they cover the whole screen. Expects blending and texturing off;
// leaves the depth test and lighting on, the projection as it was.
void drawLetterbox();
