// window_glut.h -- the demo's window: GLUT game mode, a full-screen window
// or an ordinary one.
#pragma once

#include <string>

// --native: draw the picture at the size it is shown, not at 640 x 480
// scaled up. Set before the window opens.
extern bool drawAtNativeSize;

// True when an X display can be opened; otherwise says why.
bool displayIsReachable(std::string* reason);

// Enters the 640 x 480 game mode, or, where the mode cannot be had, opens a
// borderless window over the whole desktop and shows the picture in its
// largest centred 4:3 rectangle. Registers the reshape and close callbacks
// and asks for frames paced by the display.
void openFullScreenPicture();

// The same in an ordinary resizable 640 x 480 window, where the window
// manager puts it; resized, the picture keeps its centred 4:3 rectangle.
void openResizableWindow();

// The file descriptor of GLUT's connection to the X server, readable when
// an event (a key, an expose) arrives; -1 before a window is open.
int windowEventFd();
