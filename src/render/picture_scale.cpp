// picture_scale.cpp -- the 640 x 480 picture shown on a larger window.
//
// Line widths, the point size and the 32 x 32 stipple patterns are in pixels,
// so the picture keeps its designed look only when drawn at 640 x 480. On a
// larger window the frame code draws at 640 x 480 in the window's lower-left
// corner, and the present step blows that region up into the picture
// rectangle: a copy into a texture and one textured quad, black around it.
//
// The filter: nearest-neighbour to the largest whole multiple of 640 x 480
// that fits (every source pixel becomes an even k x k block), then linear for
// the remaining factor, which lies below 2. Lines and stipple dots stay crisp
// and even; only their edges are softened, by at most one screen pixel.
// Below a factor of 2 the first step is left out and the quad is linear.
#include <GL/gl.h>

#include <algorithm>

#include "render/picture_layout.h"

namespace {

PictureLayout layout;
GLuint pictureTexture = 0;       // 1024 x 512: the 640 x 480 frame, plus an edge copy
GLuint multipleTexture = 0;      // the whole-multiple enlargement, when there is one
int multiple = 1;                // the whole multiple k (1: none)
int multipleTextureSize[2] = {0, 0};

int powerOfTwoAtLeast(int n) {
    int p = 1;
    while (p < n) p *= 2;
    return p;
}

// A texture of the given power-of-two size with the given filter, its
// contents undefined until copied into. RGBA like the framebuffer, so the
// copies need no conversion (RGB made them twice as slow on the software
// renderer).
GLuint makeTexture(int width, int height, GLint filter) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    return texture;
}

// Copies the width x height region at the window's origin into the bound
// texture, and its last column and row once more beside it: the linear
// filter reads one texel past the picture's right and top edges, which must
// repeat the edge as the texture's own clamping does at its left and bottom.
void copyFromOrigin(int width, int height) {
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, width, height);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, width, 0, width - 1, 0, 1, height);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, height, 0, height - 1, width + 1, 1);
}

// One quad showing the bound texture's width x height corner over the given
// window rectangle, under the pixel projection set by showScaledPicture.
void drawTextureCorner(int width, int height, int textureWidth, int textureHeight, const PictureRect& to) {
    const float s = float(width) / textureWidth, t = float(height) / textureHeight;
    const float x0 = float(to.x), y0 = float(to.y), x1 = float(to.x + to.width), y1 = float(to.y + to.height);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(x0, y0);
    glTexCoord2f(s, 0);
    glVertex2f(x1, y0);
    glTexCoord2f(s, t);
    glVertex2f(x1, y1);
    glTexCoord2f(0, t);
    glVertex2f(x0, y1);
    glEnd();
}

// Black in the window outside the picture rectangle: the bars, which also
// hold what was drawn at the origin where it lies outside the rectangle.
void clearAroundPicture() {
    const PictureRect& r = layout.shown;
    const int w = layout.windowWidth, h = layout.windowHeight;
    const PictureRect bars[] = {
        {0, 0, r.x, h},                                    // left
        {r.x + r.width, 0, w - r.x - r.width, h},          // right
        {r.x, 0, r.width, r.y},                            // below
        {r.x, r.y + r.height, r.width, h - r.y - r.height},  // above
    };
    glEnable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 0);
    for (const PictureRect& bar : bars) {
        if (bar.width <= 0 || bar.height <= 0) continue;
        glScissor(bar.x, bar.y, bar.width, bar.height);
        glClear(GL_COLOR_BUFFER_BIT);
    }
}

}  // namespace

// Small windows and --native draw the picture where it is shown, as does a
// window whose picture rectangle is 640 x 480 already (a real 640 x 480
// mode): no copy is needed there.
PictureLayout layoutPicture(int windowWidth, int windowHeight, bool native) {
    PictureLayout result;
    result.windowWidth = windowWidth;
    result.windowHeight = windowHeight;
    result.shown = fitPictureRect(windowWidth, windowHeight);
    const bool drawnWhereShown =
        native || windowWidth < 640 || windowHeight < 480 || result.shown.width == 640;
    result.drawn = drawnWhereShown ? result.shown : PictureRect{0, 0, 640, 480};
    return result;
}

bool PictureLayout::scaled() const {
    return drawn.x != shown.x || drawn.y != shown.y || drawn.width != shown.width || drawn.height != shown.height;
}

// Needs the window's GL context current. The 640 x 480 texture is made once;
// the whole-multiple one again only when the multiple changes (a resized
// window), at the smallest power-of-two size that holds it.
void usePictureLayout(const PictureLayout& newLayout) {
    layout = newLayout;
    pictureRect = layout.drawn;
    // The scissor makes the 640 x 480 region behave as a 640 x 480 window:
    // the frame's clear stays inside it (clearing the whole of a large
    // window every frame cost the software renderer more than the scaling),
    // and wide points and lines stop at its edge as at a window's.
    glScissor(0, 0, 640, 480);
    if (!layout.scaled()) {
        glDisable(GL_SCISSOR_TEST);
        return;
    }
    glEnable(GL_SCISSOR_TEST);
    GLint bound = 0, largest = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    if (!pictureTexture) pictureTexture = makeTexture(1024, 512, GL_LINEAR);
    multiple = std::min(layout.shown.width / 640, layout.shown.height / 480);
    const int size[2] = {powerOfTwoAtLeast(640 * multiple + 1), powerOfTwoAtLeast(480 * multiple + 1)};
    if (size[0] > largest || size[1] > largest) multiple = 1;  // the driver's limit: linear alone
    glBindTexture(GL_TEXTURE_2D, pictureTexture);
    const GLint firstFilter = multiple > 1 ? GL_NEAREST : GL_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, firstFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, firstFilter);
    const bool needsSecondStep = multiple > 1 && 640 * multiple != layout.shown.width;
    if (needsSecondStep && (size[0] != multipleTextureSize[0] || size[1] != multipleTextureSize[1])) {
        if (multipleTexture) glDeleteTextures(1, &multipleTexture);
        multipleTexture = makeTexture(size[0], size[1], GL_LINEAR);
        multipleTextureSize[0] = size[0];
        multipleTextureSize[1] = size[1];
    }
    glBindTexture(GL_TEXTURE_2D, GLuint(bound));
}

const PictureLayout& currentPictureLayout() { return layout; }

// Every piece of state touched here is saved first and put back after, so
// the next frame starts from exactly the state this frame ended with.
void showScaledPicture() {
    if (!layout.scaled()) return;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    for (GLenum stack : {GL_TEXTURE, GL_PROJECTION, GL_MODELVIEW}) {
        glMatrixMode(stack);
        glPushMatrix();
        glLoadIdentity();
    }
    glMatrixMode(GL_PROJECTION);
    glOrtho(0, layout.windowWidth, 0, layout.windowHeight, -1, 1);
    glViewport(0, 0, layout.windowWidth, layout.windowHeight);
    for (GLenum capability : {GL_ALPHA_TEST, GL_BLEND, GL_COLOR_LOGIC_OP, GL_COLOR_MATERIAL, GL_CULL_FACE,
                              GL_DEPTH_TEST, GL_DITHER, GL_FOG, GL_LIGHTING, GL_POLYGON_STIPPLE, GL_SCISSOR_TEST,
                              GL_STENCIL_TEST, GL_TEXTURE_1D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R,
                              GL_TEXTURE_GEN_Q, GL_CLIP_PLANE0, GL_CLIP_PLANE1, GL_CLIP_PLANE2, GL_CLIP_PLANE3,
                              GL_CLIP_PLANE4, GL_CLIP_PLANE5})
        glDisable(capability);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    glBindTexture(GL_TEXTURE_2D, pictureTexture);
    copyFromOrigin(640, 480);
    if (multiple > 1 && 640 * multiple == layout.shown.width) {
        drawTextureCorner(640, 480, 1024, 512, layout.shown);  // a whole multiple: nearest alone
    } else if (multiple > 1) {
        const int width = 640 * multiple, height = 480 * multiple;
        drawTextureCorner(640, 480, 1024, 512, PictureRect{0, 0, width, height});
        glBindTexture(GL_TEXTURE_2D, multipleTexture);
        copyFromOrigin(width, height);
        drawTextureCorner(width, height, multipleTextureSize[0], multipleTextureSize[1], layout.shown);
    } else {
        drawTextureCorner(640, 480, 1024, 512, layout.shown);
    }
    clearAroundPicture();

    for (GLenum stack : {GL_TEXTURE, GL_PROJECTION, GL_MODELVIEW}) {
        glMatrixMode(stack);
        glPopMatrix();
    }
    glPopAttrib();
}
