// window_offscreen.cpp -- the shell's window-system calls without a window.
//
// Presenting hands the finished frame to whoever renders offline (the
// offline renderer writes PNG files and band rows from it); the title is kept
// for inspection; there is no cursor.
#include "window_offscreen.h"

#include <GL/gl.h>

#include <cstring>

PictureRect pictureRect;
char offscreenTitle[256];
void (*offscreenPresentHook)() = nullptr;

void applyPictureViewport() {
    glViewport(pictureRect.x, pictureRect.y, pictureRect.width, pictureRect.height);
}

void presentFrame() {
    if (offscreenPresentHook) offscreenPresentHook();
}

void setWindowTitle(const char* title) {
    std::strncpy(offscreenTitle, title, sizeof offscreenTitle - 1);
}

void setCursorVisible(bool) {}
