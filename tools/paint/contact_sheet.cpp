// contact_sheet.cpp -- tessera-contactsheet: one PNG showing all fifteen
// pictures with their names and sizes, for the README.
//
// Usage: tessera-contactsheet <textures-dir> <out.png>
// The thumbnails are scaled by OpenGL in the offscreen context (mipmapped
// for the pictures, nearest for the chessboards, as the demo shows them);
// the labels are set with FreeType like the title cards.
#include <GL/gl.h>
#include <GL/glu.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "canvas.h"
#include "lettering.h"
#include "offscreen_gl.h"
#include "picture_list.h"

namespace {

constexpr int kColumns = 5;
constexpr int kCellWidth = 240;
constexpr int kThumbWidth = 208;   // box a thumbnail is fitted into
constexpr int kThumbHeight = 156;
constexpr int kLabelHeight = 40;
constexpr int kHeaderHeight = 56;
constexpr int kCellHeight = kThumbHeight + 16 + kLabelHeight;

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first
};

// Reads a JPEG file whole and decodes it to RGB. Returns false with a
// message when the file is missing or not a JPEG.
bool decodeJpeg(const std::string& path, Decoded* out) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fprintf(stderr, "tessera-contactsheet: cannot open %s\n", path.c_str());
        return false;
    }
    std::vector<unsigned char> bytes;
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    tjhandle handle = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    bool ok = handle && tjDecompressHeader3(handle, bytes.data(), bytes.size(), &out->width, &out->height,
                                            &subsampling, &colourspace) == 0;
    if (ok) {
        out->rgb.resize(size_t(out->width) * out->height * 3);
        ok = tjDecompress2(handle, bytes.data(), bytes.size(), out->rgb.data(), out->width, 0, out->height,
                           TJPF_RGB, TJFLAG_ACCURATEDCT) == 0;
    }
    if (!ok) std::fprintf(stderr, "tessera-contactsheet: cannot decode %s\n", path.c_str());
    if (handle) tjDestroy(handle);
    return ok;
}

// Draws one picture fitted into the thumbnail box whose top-left is (x, y),
// keeping its aspect, with a thin grey frame so black edges stay visible.
void drawThumbnail(const Decoded& picture, bool nearest, int x, int y) {
    float scale = std::min(float(kThumbWidth) / picture.width, float(kThumbHeight) / picture.height);
    if (nearest) scale = std::max(1.0f, std::floor(scale));  // whole texels per block
    float w = picture.width * scale, h = picture.height * scale;
    float left = x + (kThumbWidth - w) / 2, top = y + (kThumbHeight - h) / 2;

    glDisable(GL_TEXTURE_2D);
    glColor3f(0.32f, 0.33f, 0.36f);
    glBegin(GL_QUADS);
    glVertex2f(left - 1, top - 1);
    glVertex2f(left + w + 1, top - 1);
    glVertex2f(left + w + 1, top + h + 1);
    glVertex2f(left - 1, top + h + 1);
    glEnd();

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (nearest) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, picture.width, picture.height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                     picture.rgb.data());
    } else {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB8, picture.width, picture.height, GL_RGB, GL_UNSIGNED_BYTE,
                          picture.rgb.data());
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glEnable(GL_TEXTURE_2D);
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);  // texture row 0 is the picture's top, as is y = top
    glTexCoord2f(0, 0);
    glVertex2f(left, top);
    glTexCoord2f(1, 0);
    glVertex2f(left + w, top);
    glTexCoord2f(1, 1);
    glVertex2f(left + w, top + h);
    glTexCoord2f(0, 1);
    glVertex2f(left, top + h);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glDeleteTextures(1, &texture);
}

// Sets a label line centred on `centreX` with its baseline at `baseline`.
void label(Canvas& sheet, const std::string& text, const TextStyle& style, int centreX, int baseline,
           Rgb colour) {
    TextBlock block = setLine(text, style);
    stampText(sheet, block, centreX - block.coverage.width / 2, baseline - int(block.baselineY + 0.5f), colour);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessera-contactsheet <textures-dir> <out.png>\n");
        return 2;
    }
    std::string directory = argv[1], output = argv[2];
    std::string reason;
    if (!openTypefaces(&reason)) {
        std::fprintf(stderr, "tessera-contactsheet: %s\n", reason.c_str());
        return 1;
    }

    const int rows = int((kPictures.size() + kColumns - 1) / kColumns);
    const int width = kColumns * kCellWidth, height = kHeaderHeight + rows * kCellHeight + 8;
    if (!offscreenCreate(width, height, &reason)) {
        std::fprintf(stderr, "tessera-contactsheet: no OpenGL context: %s\n", reason.c_str());
        return 1;
    }
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, height, 0, -1, 1);  // pixels, y down: top-left origin
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glClearColor(0.11f, 0.115f, 0.13f, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    std::vector<Decoded> pictures(kPictures.size());
    for (size_t i = 0; i < kPictures.size(); ++i) {
        if (!decodeJpeg(directory + "/" + kPictures[i].name + ".jpg", &pictures[i])) return 1;
        int column = int(i) % kColumns, row = int(i) / kColumns;
        drawThumbnail(pictures[i], kPictures[i].use == PictureUse::Chessboard,
                      column * kCellWidth + (kCellWidth - kThumbWidth) / 2, kHeaderHeight + row * kCellHeight + 8);
    }
    glFinish();

    // Back to the painter's canvas for the lettering.
    std::vector<uint8_t> rgb = offscreenReadRgb();
    Canvas sheet(width, height);
    for (size_t i = 0; i < sheet.pixels.size(); ++i)
        sheet.pixels[i] = {rgb[i * 3] / 255.0f, rgb[i * 3 + 1] / 255.0f, rgb[i * 3 + 2] / 255.0f};
    label(sheet, "tessera \xE2\x80\x94 the fifteen pictures, as the build paints them", {Typeface::Sans, 17, 0.5f},
          width / 2, 34, {0.92f, 0.93f, 0.95f});
    for (size_t i = 0; i < kPictures.size(); ++i) {
        const PictureInfo& info = kPictures[i];
        int column = int(i) % kColumns, row = int(i) / kColumns;
        int centreX = column * kCellWidth + kCellWidth / 2;
        int top = kHeaderHeight + row * kCellHeight + 8 + kThumbHeight;
        label(sheet, std::string(info.name) + ".jpg", {Typeface::SansBold, 13, 0.3f}, centreX, top + 22,
              {0.95f, 0.95f, 0.96f});
        const char* use = info.use == PictureUse::TitleCard    ? "title card"
                          : info.use == PictureUse::Overlay    ? "additive layer"
                          : info.use == PictureUse::SphereMap  ? "sphere map"
                                                               : "chessboard, nearest";
        label(sheet, std::to_string(info.width) + " \xC3\x97 " + std::to_string(info.height) + "  \xC2\xB7  " + use,
              {Typeface::Sans, 11, 0.2f}, centreX, top + 39, {0.62f, 0.65f, 0.7f});
    }
    if (!writePngRgb(output, width, height, toRgb8(sheet))) return 1;
    std::printf("tessera-contactsheet: wrote %s (%d x %d)\n", output.c_str(), width, height);
    return 0;
}
