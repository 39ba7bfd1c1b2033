// window_offscreen.cpp -- the shell's window-system calls without a window.
//
// Presenting scales the picture up when its layout asks for it, as the
// demo's window does, then hands the finished frame to whoever renders offline (the
// offline renderer writes PNG files and band rows from it); the title is kept
// for inspection; there is no cursor.
#include "window_offscreen.h"

#include <GL/gl.h>

#include <cstring>

char offscreenTitle[256];
void (*offscreenPresentHook)() = nullptr;

// The flush hands the frame to the rasteriser as a window's buffer swap
// would. Without it, frames nobody reads back pile up unrasterised in the
// software renderer's queue, and a run that writes a few stills climbs to
// gigabytes.
void presentFrame() {
    showScaledPicture();
    if (offscreenPresentHook) offscreenPresentHook();
    glFlush();
}

void setWindowTitle(const char* title) {
    std::strncpy(offscreenTitle, title, sizeof offscreenTitle - 1);
}

void setCursorVisible(bool) {}
