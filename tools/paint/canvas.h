// canvas.h -- a floating-point RGB picture and the small tools the painter
// draws with: colour arithmetic, hashed noise, blur and JPEG output.
//
// Everything here is deterministic: noise comes from an integer hash of the
// lattice point and a seed, never from the clock or a random device.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    float r = 0, g = 0, b = 0;
};

inline Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Rgb operator-(Rgb a, Rgb b) { return {a.r - b.r, a.g - b.g, a.b - b.b}; }
inline Rgb operator*(Rgb a, float k) { return {a.r * k, a.g * k, a.b * k}; }
inline Rgb operator*(float k, Rgb a) { return a * k; }
inline Rgb operator*(Rgb a, Rgb b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
inline Rgb& operator+=(Rgb& a, Rgb b) { return a = a + b; }

inline float clamp01(float x) { return x < 0 ? 0 : (x > 1 ? 1 : x); }
inline float mixf(float a, float b, float t) { return a + (b - a) * t; }
inline Rgb mix(Rgb a, Rgb b, float t) { return a + (b - a) * t; }

// Hermite step from 0 at e0 to 1 at e1 (either order).
inline float smoothstep(float e0, float e1, float x) {
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// A colour from a hex literal such as 0x3fd0c8, for readable palettes.
inline Rgb hexColour(uint32_t hex) {
    return {((hex >> 16) & 255) / 255.0f, ((hex >> 8) & 255) / 255.0f, (hex & 255) / 255.0f};
}

struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // top row first

    Canvas() = default;
    Canvas(int w, int h) : width(w), height(h), pixels(size_t(w) * h) {}
    Rgb& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    const Rgb& at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// One-channel picture (coverage, heights, masks), same layout as Canvas.
struct Plane {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    Plane() = default;
    Plane(int w, int h) : width(w), height(h), values(size_t(w) * h, 0.0f) {}
    float& at(int x, int y) { return values[size_t(y) * width + x]; }
    float at(int x, int y) const { return values[size_t(y) * width + x]; }
    // Bilinear read with clamped edges, for sampling at fractional positions.
    float sample(float x, float y) const;
};

// Integer hash of a lattice point, uniform in [0, 1).
float hash01(int x, int y, uint32_t seed);
// Smooth value noise in [0, 1) on a unit lattice.
float valueNoise(float x, float y, uint32_t seed);
// Sum of `octaves` noise layers, each twice the frequency and half the weight
// of the one before, normalised back to [0, 1).
float fbm(float x, float y, int octaves, uint32_t seed);
// Noise that wraps around in x with the given integer period, for patterns
// laid out by angle that must meet themselves without a seam.
float periodicNoise(float x, float y, int periodX, uint32_t seed);
float periodicFbm(float x, float y, int periodX, int octaves, uint32_t seed);

// Smooth value noise in 3D and its fractal sum, for patterns painted on the
// sphere of directions (sphere maps), which must have no seam or pole.
float valueNoise3(float x, float y, float z, uint32_t seed);
float fbm3(float x, float y, float z, int octaves, uint32_t seed);

// Separable box blur run `passes` times (three passes approach a Gaussian).
void blurPlane(Plane& plane, int radius, int passes);
void blurCanvas(Canvas& canvas, int radius, int passes);

// Adds `colour` weighted by each value of `plane` onto the canvas.
void addPlane(Canvas& canvas, const Plane& plane, Rgb colour);

// Forces the outermost `border` pixels to pure black and fades the next
// `fade` pixels in, so additive layers leave the frame untouched at their edge.
void blackenBorder(Canvas& canvas, int border, int fade);

// Clamps to 0..255 and writes a baseline JPEG with full-resolution colour
// (no chroma subsampling) at the given quality. Writes to a temporary name
// and renames, so a failed run never leaves half a file behind. Returns false
// with a message on stderr on failure.
bool writeJpeg(const Canvas& canvas, const std::string& path, int quality);

// The canvas as 8-bit RGB, top row first.
std::vector<uint8_t> toRgb8(const Canvas& canvas);
