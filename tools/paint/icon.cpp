// icon.cpp -- paints the icon: nine tesserae in a three-by-three grid on a
// dark rounded tile, lit from the upper left, their colours running from the
// demo's teal through violet to its ember orange.
#include "icon.h"

#include <png.h>

#include <algorithm>
#include <cmath>

#include "canvas.h"

namespace {

// Colour and coverage of the icon at one point, straight alpha.
struct Sample {
    Rgb colour;
    float alpha = 0;
};

// Signed distance from a rounded square: centre (cx, cy), half side h,
// corner radius r. Negative inside.
float roundedSquare(float x, float y, float cx, float cy, float h, float r) {
    const float qx = std::max(std::fabs(x - cx) - h + r, 0.0f);
    const float qy = std::max(std::fabs(y - cy) - h + r, 0.0f);
    const float outside = std::sqrt(qx * qx + qy * qy);
    const float inside = std::min(std::max(std::fabs(x - cx) - h + r, std::fabs(y - cy) - h + r), 0.0f);
    return outside + inside - r;
}

// The icon at (x, y) in 0..1 square coordinates, y downwards.
Sample iconAt(float x, float y) {
    Sample s;
    if (roundedSquare(x, y, 0.5f, 0.5f, 0.48f, 0.12f) > 0) return s;
    // The tile: deep blue-black, a little lighter towards the top.
    s.colour = mix(hexColour(0x1f2448), hexColour(0x0b0d1a), y);
    s.alpha = 1;
    const Rgb ramp[3] = {hexColour(0x18b8a6), hexColour(0x7a3a8c), hexColour(0xff8a3c)};
    const float cell = 0.28f, first = 0.5f - cell;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const float cx = first + col * cell, cy = first + row * cell;
            if (roundedSquare(x, y, cx, cy, 0.115f, 0.03f) > 0) continue;
            // Colour along the diagonal; the centre tessera burns brightest.
            const float t = (row + col) / 4.0f;
            Rgb c = t < 0.5f ? mix(ramp[0], ramp[1], t * 2) : mix(ramp[1], ramp[2], t * 2 - 1);
            if (row == 1 && col == 1) c = mix(c, hexColour(0xffe6b0), 0.55f);
            // Light from the upper left across each tessera.
            const float light = 1.15f - 0.5f * ((x - cx + 0.115f) + (y - cy + 0.115f)) / 0.46f * 0.6f;
            s.colour = c * light;
            return s;
        }
    }
    return s;
}

}  // namespace

// Averages 8 x 8 samples per pixel (colour weighted by coverage), so the
// edges stay smooth at 16 pixels as at 256.
std::vector<uint8_t> paintIcon(int size) {
    std::vector<uint8_t> rgba(size_t(size) * size * 4);
    constexpr int kSub = 8;
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            Rgb sum;
            float coverage = 0;
            for (int sy = 0; sy < kSub; ++sy)
                for (int sx = 0; sx < kSub; ++sx) {
                    const Sample s = iconAt((px + (sx + 0.5f) / kSub) / size, (py + (sy + 0.5f) / kSub) / size);
                    sum += s.colour * s.alpha;
                    coverage += s.alpha;
                }
            uint8_t* out = &rgba[(size_t(py) * size + px) * 4];
            const Rgb c = coverage > 0 ? sum * (1.0f / coverage) : Rgb{};
            out[0] = uint8_t(std::lround(clamp01(c.r) * 255));
            out[1] = uint8_t(std::lround(clamp01(c.g) * 255));
            out[2] = uint8_t(std::lround(clamp01(c.b) * 255));
            out[3] = uint8_t(std::lround(coverage / (kSub * kSub) * 255));
        }
    }
    return rgba;
}

// libpng's simplified writer: no time stamp goes into the file, so the same
// pixels give the same bytes.
bool writePngRgba(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
                  std::string* reason) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
        *reason = "cannot write " + path + ": " + image.message;
        return false;
    }
    return true;
}
