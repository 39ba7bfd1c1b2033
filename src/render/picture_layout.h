// picture_layout.h -- where the picture lies in a window of any size.
//
// The core computes the layout for every window (picture_rect.cpp,
// picture_scale.cpp): the demo's GLUT window, the offline renderer's
// offscreen buffer and the tests' all draw through it, so a window back end
// only reports its size.
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
