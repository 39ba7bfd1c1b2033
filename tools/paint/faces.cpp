// faces.cpp -- the three face layers that pulse over the scenes.
//
// All three are drawn from one sculpted relief of a calm, symmetric mask, in
// screen units (u across, v up, 1 = half the screen height), so that the
// layers land on the same spot of the 640 x 480 screen and build one face
// when several are lit at once: the mask's surface as glowing contour lines,
// its hollow back as warm shading, and a mosaic of tiles.
#include <algorithm>
#include <cmath>

#include "painters.h"

namespace {

// A raised or sunken oval feature of the relief.
struct Bump {
    float u, v;      // centre (mirrored to -u as well when `pair` is set)
    float su, sv;    // extent across and up
    float height;    // positive raises, negative carves
    bool pair;
};

// The features of the mask, largest first. Heights are in the same units as
// u and v, so the relief's slopes are plausible under lighting.
const Bump kFeatures[] = {
    {0.00f, 0.46f, 0.30f, 0.20f, 0.05f, false},    // forehead
    {0.17f, 0.20f, 0.14f, 0.05f, 0.09f, true},     // brow ridges
    {0.18f, 0.09f, 0.11f, 0.065f, -0.15f, true},   // eye sockets
    {0.18f, 0.085f, 0.065f, 0.032f, 0.075f, true}, // closed lids
    {0.00f, 0.03f, 0.045f, 0.17f, 0.11f, false},   // bridge of the nose
    {0.00f, -0.14f, 0.06f, 0.06f, 0.09f, false},   // tip of the nose
    {0.06f, -0.17f, 0.04f, 0.035f, 0.045f, true},  // wings of the nose
    {0.31f, -0.03f, 0.12f, 0.10f, 0.06f, true},    // cheekbones
    {0.24f, -0.24f, 0.10f, 0.10f, -0.035f, true},  // hollows of the cheeks
    {0.00f, -0.315f, 0.13f, 0.03f, 0.05f, false},  // upper lip
    {0.00f, -0.385f, 0.11f, 0.035f, 0.055f, false},// lower lip
    {0.00f, -0.348f, 0.12f, 0.011f, -0.045f, false}, // line of the mouth
    {0.00f, -0.57f, 0.12f, 0.08f, 0.06f, false},   // chin
};

// How far inside the outline of the head a point lies: 1 at the centre, 0 on
// the outline, negative outside. The jaw narrows towards the chin.
float headInside(float u, float v) {
    float halfWidth = 0.56f - 0.16f * smoothstep(0.05f, -0.75f, v);
    float du = u / halfWidth, dv = (v - 0.02f) / 0.80f;
    return 1.0f - (du * du + dv * dv);
}

// Height of the mask surface at (u, v): a dome filling the outline of the
// head (scaled by `dome`; a flatter dome lets the features dominate the
// light) plus the features, which fade out towards the outline so that no
// feature spills past the edge of the mask.
float maskHeight(float u, float v, float dome) {
    float inside = headInside(u, v);
    if (inside <= 0) return 0;
    float h = 0.55f * dome * std::sqrt(inside);
    float fade = smoothstep(0.0f, 0.25f, inside);
    for (const Bump& b : kFeatures) {
        for (int side = 0; side < (b.pair ? 2 : 1); ++side) {
            float cu = side ? -b.u : b.u;
            float du = (u - cu) / b.su, dv = (v - b.v) / b.sv;
            h += fade * b.height * std::exp(-(du * du + dv * dv));
        }
    }
    return h;
}

// The relief sampled at every pixel of a picture that the demo stretches over
// the whole 640 x 480 screen (whatever the picture's own size), plus the
// outline mask, both in picture pixels.
struct Relief {
    Plane height;
    Plane inside;
    float unitsPerPixelX;  // screen units per picture pixel, across
    float unitsPerPixelY;  // and down
};

Relief sculpt(int width, int height, float dome) {
    Relief relief{Plane(width, height), Plane(width, height), 0, 0};
    // The picture fills the screen; the screen spans u in -4/3..4/3, v in -1..1.
    relief.unitsPerPixelX = (8.0f / 3.0f) / float(width);
    relief.unitsPerPixelY = 2.0f / float(height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float u = (x + 0.5f) * relief.unitsPerPixelX - 4.0f / 3.0f;
            float v = 1.0f - (y + 0.5f) * relief.unitsPerPixelY;
            relief.height.at(x, y) = maskHeight(u, v, dome);
            relief.inside.at(x, y) = headInside(u, v);
        }
    }
    return relief;
}

// Lambert light on the relief at a pixel, from the upper left and in front.
// `sign` -1 lights the relief turned inside out (the hollow back of the mask).
float lightAt(const Relief& relief, int x, int y, float sign, float lz = 0.70f) {
    int x0 = std::max(x - 1, 0), x1 = std::min(x + 1, relief.height.width - 1);
    int y0 = std::max(y - 1, 0), y1 = std::min(y + 1, relief.height.height - 1);
    float dhdu = (relief.height.at(x1, y) - relief.height.at(x0, y)) / ((x1 - x0) * relief.unitsPerPixelX);
    float dhdv = -(relief.height.at(x, y1) - relief.height.at(x, y0)) / ((y1 - y0) * relief.unitsPerPixelY);
    float nx = -sign * dhdu, ny = -sign * dhdv, nz = 1.0f;
    float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    const float lx = -0.45f, ly = 0.55f;  // normalised below
    const float ll = std::sqrt(lx * lx + ly * ly + lz * lz);
    return std::max(0.0f, (nx * lx + ny * ly + nz * lz) / (length * ll));
}

// Coverage of the contour lines of the relief: `levels` equally spaced
// heights, each drawn `halfWidth` pixels either side. The distance to the
// nearest contour is estimated from the height's gradient, so lines keep one
// width whatever the slope; where contours crowd closer than a few pixels
// (the steep rim of the dome) they fade, instead of filling in solid.
Plane contourLines(const Relief& relief, float levels, float halfWidth) {
    const Plane& h = relief.height;
    Plane lines(h.width, h.height);
    for (int y = 1; y < h.height - 1; ++y) {
        for (int x = 1; x < h.width - 1; ++x) {
            if (relief.inside.at(x, y) <= 0) continue;
            float f = h.at(x, y) * levels;
            float gx = (h.at(x + 1, y) - h.at(x - 1, y)) * 0.5f * levels;
            float gy = (h.at(x, y + 1) - h.at(x, y - 1)) * 0.5f * levels;
            float gradient = std::sqrt(gx * gx + gy * gy) + 1e-6f;
            float distance = std::fabs(f - std::round(f)) / gradient;
            float ink = 1.0f - smoothstep(halfWidth - 0.7f, halfWidth + 0.7f, distance);
            float spacing = 1.0f / gradient;  // pixels between neighbouring contours
            ink *= smoothstep(2.5f, 6.0f, spacing);
            lines.at(x, y) = ink;
        }
    }
    return lines;
}

// Coverage of the outline of the head, a line `halfWidth` pixels either side.
Plane outline(const Relief& relief, float halfWidth) {
    const Plane& in = relief.inside;
    Plane line(in.width, in.height);
    for (int y = 1; y < in.height - 1; ++y) {
        for (int x = 1; x < in.width - 1; ++x) {
            float gx = (in.at(x + 1, y) - in.at(x - 1, y)) * 0.5f;
            float gy = (in.at(x, y + 1) - in.at(x, y - 1)) * 0.5f;
            float distance = std::fabs(in.at(x, y)) / (std::sqrt(gx * gx + gy * gy) + 1e-6f);
            line.at(x, y) = 1.0f - smoothstep(halfWidth - 0.7f, halfWidth + 0.7f, distance);
        }
    }
    return line;
}

}  // namespace

// The mask's surface as a relief map: contour lines of its height, cool at
// the shadowed side and nearly white where the light falls, with a faint glow
// around each line. Everything off the lines is black.
void paintContourFace(Canvas& canvas) {
    Relief relief = sculpt(canvas.width, canvas.height, 1.0f);
    Plane lines = contourLines(relief, 26.0f, 0.9f);
    Plane rim = outline(relief, 1.1f);
    const Rgb shadowColour = hexColour(0x1f8fd0), lightColour = hexColour(0xeafcff);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            float ink = std::max(lines.at(x, y), rim.at(x, y));
            if (ink <= 0) continue;
            float light = lightAt(relief, x, y, 1.0f);
            Rgb colour = mix(shadowColour, lightColour, light * light);
            canvas.at(x, y) = colour * (ink * (0.35f + 0.65f * light));
        }
    }
    Canvas glow = canvas;
    blurCanvas(glow, 4, 3);
    for (size_t i = 0; i < canvas.pixels.size(); ++i) canvas.pixels[i] += glow.pixels[i] * 0.9f;
    blackenBorder(canvas, 4, 12);
}

// The counterpart of the contour face: the hollow back of the same mask, lit
// from the same side so that every form reads inverted, in warm amber, with
// the front's contour lines cut out of it as dark grooves. Kept dim, since
// the demo often adds it at many times its own brightness.
void paintHollowFace(Canvas& canvas) {
    Relief relief = sculpt(canvas.width, canvas.height, 1.0f);
    Plane lines = contourLines(relief, 26.0f, 0.9f);
    const Rgb dark = hexColour(0x5a1036), warm = hexColour(0xffa24a);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            float inside = relief.inside.at(x, y);
            if (inside <= 0) continue;
            float edge = smoothstep(0.0f, 0.12f, inside);
            float light = lightAt(relief, x, y, -1.0f);
            float tone = std::pow(light, 1.6f);
            Rgb colour = mix(dark, warm, tone) * (0.12f + 0.45f * tone);
            canvas.at(x, y) = colour * (edge * (1.0f - 0.85f * lines.at(x, y)));
        }
    }
    blackenBorder(canvas, 4, 12);
}

// A third face laid in tiles: the same mask, lit, broken into square glass
// tesserae whose size and colour follow the light (deep blue in the shadows
// through teal to gold on the lit planes), with black grout between them.
// Tiles are square on screen, so in this square picture, which the demo
// stretches to 4:3, they are narrower than they are tall.
void paintMosaicFace(Canvas& canvas) {
    // A flatter dome and a lower light than the other two faces: in tiles
    // only strong contrasts survive, so the eyes, nose and mouth must carry
    // the light rather than the roundness of the head.
    Relief relief = sculpt(canvas.width, canvas.height, 0.45f);
    const float tile = 10.0f;  // tile pitch in screen pixels
    const float screenPerPixelX = 640.0f / canvas.width, screenPerPixelY = 480.0f / canvas.height;
    const Rgb deep = hexColour(0x1b2f8a), teal = hexColour(0x2fc4b2), gold = hexColour(0xffd76a);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            // Screen position of the pixel centre, and the tile it falls in;
            // odd rows are shifted half a tile, as a mosaicist lays courses.
            float sx = (x + 0.5f) * screenPerPixelX, sy = (y + 0.5f) * screenPerPixelY;
            int row = int(std::floor(sy / tile));
            float shift = (row & 1) ? tile * 0.5f : 0.0f;
            int column = int(std::floor((sx + shift) / tile));
            float cx = (column + 0.5f) * tile - shift, cy = (row + 0.5f) * tile;
            // Light and outline at the tile's centre decide the whole tile.
            int px = std::clamp(int(cx / screenPerPixelX), 0, canvas.width - 1);
            int py = std::clamp(int(cy / screenPerPixelY), 0, canvas.height - 1);
            float inside = relief.inside.at(px, py);
            if (inside <= 0.02f) continue;
            float light = smoothstep(0.25f, 0.95f, lightAt(relief, px, py, 1.0f, 0.35f));
            float jitter = hash01(column, row, 41);
            float tone = clamp01(light * 0.9f + (jitter - 0.5f) * 0.16f);
            // Lit tiles are larger; dark ones shrink and leave more grout.
            float half = tile * (0.22f + 0.22f * tone) * smoothstep(0.02f, 0.15f, inside);
            float dx = std::fabs(sx - cx) - half, dy = std::fabs(sy - cy) - half;
            float outside = std::max(dx, dy);  // square distance, screen pixels
            float cover = 1.0f - smoothstep(-0.8f, 0.8f, outside);
            if (cover <= 0) continue;
            Rgb colour = tone < 0.5f ? mix(deep, teal, tone * 2) : mix(teal, gold, tone * 2 - 1);
            canvas.at(x, y) = colour * (cover * (0.35f + 0.65f * tone));
        }
    }
    blackenBorder(canvas, 4, 12);
}
