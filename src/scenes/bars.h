// bars.h -- the bar element: forty thin bars sliding out from the centre line.
//
// A full-screen 2D layer that the window scene draws in its window. Each bar
// is born on the centre line, slides towards its own random end position
// while it thickens and fades to black, and is born again. All bars share one
// colour that cycles with the first bar's phase. Advanced every frame, drawn
// or not.
#pragma once

constexpr int kBarCount = 40;

extern float barPhases[kBarCount];   // 0 at birth, complete at 1.0
extern float barOffsets[kBarCount];  // end position, -2..2; 0 until the first rebirth
extern float barColor[3];            // shared red, green, blue, recomputed every update

// Fills the phases from the shared generator; the offsets stay 0.
void initBars();

// Advances every phase by stepMs * 0.0001 (stepMs is milliseconds of music
// plus a spectrum push); a completed bar is reborn with a new offset
// instead, drawing from the shared generator. Then recomputes the colour from bar 0.
void updateBars(float stepMs);

// Draws the bars over the whole viewport, horizontal or vertical as
// cues.barsHorizontal says. Sets only the projection and modelview (both
// restored), the depth test (on after) and the colour.
void drawBars();
