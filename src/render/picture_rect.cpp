// picture_rect.cpp -- where the 640 x 480 picture sits in a larger window.
#include <GL/gl.h>

#include "render/picture_layout.h"

PictureRect pictureRect;

void applyPictureViewport() {
    glViewport(pictureRect.x, pictureRect.y, pictureRect.width, pictureRect.height);
}

// Full height on a wide window, full width on a tall one; integer pixels,
// centred, so the bars around it are black and at most one pixel uneven.
PictureRect fitPictureRect(int windowWidth, int windowHeight) {
    PictureRect rect;
    if (windowWidth * 3 >= windowHeight * 4) {
        rect.height = windowHeight;
        rect.width = windowHeight * 4 / 3;
    } else {
        rect.width = windowWidth;
        rect.height = windowWidth * 3 / 4;
    }
    rect.x = (windowWidth - rect.width) / 2;
    rect.y = (windowHeight - rect.height) / 2;
    return rect;
}
