// window.h -- the few calls a window back end provides.
//
// The frame loop presents, titles and shows the cursor only through these:
// the demo supplies them from GLUT (window_glut.cpp), the offline renderer
// and the tests their own (tools/render/window_offscreen.cpp). Where the
// picture lies in the window is the core's own (render/picture_layout.h).
#pragma once

void presentFrame();
void setWindowTitle(const char* title);
void setCursorVisible(bool visible);
