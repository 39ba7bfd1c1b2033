// window.h -- the picture's layout and the shell's window-system calls.
//
// The frame loop presents, titles and shows the cursor only through these.
// Two groups:
// - the layout of the picture in a window (fitPictureRect, layoutPicture,
//   usePictureLayout, currentPictureLayout, showScaledPicture), computed by
//   the core itself (picture_rect.cpp, picture_scale.cpp) for every window;
// - pictureRect, applyPictureViewport, presentFrame, setWindowTitle and
//   setCursorVisible, which each window layer supplies: the demo from GLUT
//   (window_glut.cpp), the offline renderer and the tests their own
//   (tools/render/window_offscreen.cpp).
#pragma once

struct PictureRect {
    int x = 0;
    int y = 0;
    int width = 640;
    int height = 480;
};

// The rectangle the frame code draws the picture into; the demo's viewport
// calls use it. 640 x 480 at the window's origin when the picture is scaled
// up to a larger window, else the rectangle where the picture is shown.
extern PictureRect pictureRect;

// The largest 4:3 rectangle centred in a window of the given size.
PictureRect fitPictureRect(int windowWidth, int windowHeight);

// How the picture reaches a window: where the frame code draws it and where
// it is seen (the largest centred 4:3 rectangle, black around it). On a
// window of at least 640 x 480 it is drawn at 640 x 480 and scaled up at
// present, so lines and stipple patterns keep their designed pixel size;
// `native` (or a smaller window) draws it at the shown rectangle's own size.
struct PictureLayout {
    PictureRect drawn;
    PictureRect shown;
    int windowWidth = 640;
    int windowHeight = 480;
    bool scaled() const;  // drawn elsewhere than shown: present copies and scales
};
PictureLayout layoutPicture(int windowWidth, int windowHeight, bool native);

// Makes the layout current (pictureRect becomes its drawn rectangle) and
// makes the scaling textures it needs; the GL context must be current.
void usePictureLayout(const PictureLayout& layout);
const PictureLayout& currentPictureLayout();

// The present step of a scaled layout: the drawn 640 x 480 region copied to
// a texture and shown over the picture rectangle, black around it, every GL
// state it touches put back. Does nothing when the layout is not scaled.
void showScaledPicture();

// Sets the viewport to the picture rectangle.
void applyPictureViewport();

void presentFrame();
void setWindowTitle(const char* title);
void setCursorVisible(bool visible);
