// window.h -- the shell's window-system calls.
//
// The frame loop presents, titles and shows the cursor only through these.
// The demo supplies them from GLUT (window_glut.cpp); the offline renderer
// and the tests supply their own (tools/render/window_offscreen.cpp).
#pragma once

// The rectangle of the window that shows the 640 x 480 picture: the whole
// window in a real 640 x 480 mode, else the largest centred 4:3 rectangle.
// The demo's viewport calls use it.
struct PictureRect {
    int x = 0;
    int y = 0;
    int width = 640;
    int height = 480;
};
extern PictureRect pictureRect;

// The largest 4:3 rectangle centred in a window of the given size.
PictureRect fitPictureRect(int windowWidth, int windowHeight);

// Sets the viewport to the picture rectangle.
void applyPictureViewport();

void presentFrame();
void setWindowTitle(const char* title);
void setCursorVisible(bool visible);
