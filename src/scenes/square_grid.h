// square_grid.h -- the square-grid element: a 40 x 30 mosaic of pulsing squares.
//
// A full-screen 2D layer that other scenes draw, usually through a stencil
// mask (the floor scene inside and outside its floor, the window scene in its
// window). Each square fades from black up to the caller's colour and drops
// back, on its own random phase. The phases step once per frame, drawn or not.
#pragma once

constexpr int kGridColumns = 40;
constexpr int kGridRows = 30;

// Phase of the square in column m, row n at m * 30 + n (rows vary fastest).
extern float squareGridPhases[kGridColumns * kGridRows];

// Fills the phases from the shared generator, one draw per square in order.
void initSquareGrid();

// Advances every phase by 0.01; a phase that has reached 1.0 restarts at 0.
void updateSquareGrid();

// Draws the grid over the whole viewport with squares of half-size
// gridSquareHalfSize, each in (red, green, blue) times its level. Sets only
// the projection and modelview (both restored), the depth test (on after)
// and the colour; lighting, texturing, blending and stencil are the caller's.
void drawSquareGrid(float red, float green, float blue);

// The same with the half-size given by the caller.
void drawSquareGridSized(float red, float green, float blue, float halfSize);
