// canvas.cpp -- pixel storage, noise, blur and JPEG output for the painter.
#include "canvas.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>

// Bilinear read with clamped edges, so callers can sample between pixels and
// past the border without special cases.
float Plane::sample(float x, float y) const {
    x = std::clamp(x, 0.0f, float(width - 1));
    y = std::clamp(y, 0.0f, float(height - 1));
    int x0 = int(x), y0 = int(y);
    int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
    float fx = x - x0, fy = y - y0;
    float top = mixf(at(x0, y0), at(x1, y0), fx);
    float bottom = mixf(at(x0, y1), at(x1, y1), fx);
    return mixf(top, bottom, fy);
}

// A 32-bit integer mix (lowbias32) of the lattice point and seed: cheap,
// well spread, and the same on every build.
float hash01(int x, int y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return float(h >> 8) * (1.0f / 16777216.0f);
}

// Value noise with a quintic fade, so its gradient is continuous and light
// painted from it has no creases along the lattice.
static float latticeNoise(float x, float y, uint32_t seed, int periodX) {
    float fx = std::floor(x), fy = std::floor(y);
    int ix = int(fx), iy = int(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * tx * (tx * (tx * 6 - 15) + 10);
    ty = ty * ty * ty * (ty * (ty * 6 - 15) + 10);
    int ix1 = ix + 1;
    if (periodX > 0) {
        ix = ((ix % periodX) + periodX) % periodX;
        ix1 = ((ix1 % periodX) + periodX) % periodX;
    }
    float a = hash01(ix, iy, seed), b = hash01(ix1, iy, seed);
    float c = hash01(ix, iy + 1, seed), d = hash01(ix1, iy + 1, seed);
    return mixf(mixf(a, b, tx), mixf(c, d, tx), ty);
}

float valueNoise(float x, float y, uint32_t seed) { return latticeNoise(x, y, seed, 0); }

float periodicNoise(float x, float y, int periodX, uint32_t seed) {
    return latticeNoise(x, y, seed, periodX);
}

// Octaves are offset by an irrational-ish shift and get their own seed, so
// their lattices never line up into a visible grid.
float fbm(float x, float y, int octaves, uint32_t seed) {
    float sum = 0, weight = 0.5f, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += weight * valueNoise(x, y, seed + uint32_t(i) * 101u);
        total += weight;
        x = x * 2.0f + 17.31f;
        y = y * 2.0f + 5.77f;
        weight *= 0.5f;
    }
    return sum / total;
}

// Like fbm, but every octave wraps with the period doubled along with the
// frequency, so the whole sum wraps with `periodX`.
float periodicFbm(float x, float y, int periodX, int octaves, uint32_t seed) {
    float sum = 0, weight = 0.5f, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += weight * periodicNoise(x, y, periodX, seed + uint32_t(i) * 101u);
        total += weight;
        x *= 2.0f;
        y = y * 2.0f + 5.77f;
        periodX *= 2;
        weight *= 0.5f;
    }
    return sum / total;
}

// Trilinear value noise over hashed lattice corners, quintic fade.
float valueNoise3(float x, float y, float z, uint32_t seed) {
    float fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
    int ix = int(fx), iy = int(fy), iz = int(fz);
    auto fade = [](float t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    float tx = fade(x - fx), ty = fade(y - fy), tz = fade(z - fz);
    float layer[2];
    for (int k = 0; k < 2; ++k) {
        uint32_t s = seed ^ (uint32_t(iz + k) * 0x9e3779b9u);
        float a = hash01(ix, iy, s), b = hash01(ix + 1, iy, s);
        float c = hash01(ix, iy + 1, s), d = hash01(ix + 1, iy + 1, s);
        layer[k] = mixf(mixf(a, b, tx), mixf(c, d, tx), ty);
    }
    return mixf(layer[0], layer[1], tz);
}

float fbm3(float x, float y, float z, int octaves, uint32_t seed) {
    float sum = 0, weight = 0.5f, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += weight * valueNoise3(x, y, z, seed + uint32_t(i) * 101u);
        total += weight;
        x = x * 2.0f + 17.31f;
        y = y * 2.0f + 5.77f;
        z = z * 2.0f + 11.13f;
        weight *= 0.5f;
    }
    return sum / total;
}

// One box pass along a row or column of `count` values spaced `stride`
// apart, with the edge value repeated beyond the ends.
static void boxLine(float* data, int count, int stride, int radius, std::vector<float>& scratch) {
    scratch.resize(count);
    for (int i = 0; i < count; ++i) scratch[i] = data[size_t(i) * stride];
    float window = 0;
    for (int i = -radius; i <= radius; ++i) window += scratch[std::clamp(i, 0, count - 1)];
    float scale = 1.0f / float(2 * radius + 1);
    for (int i = 0; i < count; ++i) {
        data[size_t(i) * stride] = window * scale;
        window += scratch[std::min(i + radius + 1, count - 1)];
        window -= scratch[std::max(i - radius, 0)];
    }
}

void blurPlane(Plane& plane, int radius, int passes) {
    if (radius <= 0) return;
    std::vector<float> scratch;
    for (int p = 0; p < passes; ++p) {
        for (int y = 0; y < plane.height; ++y)
            boxLine(&plane.values[size_t(y) * plane.width], plane.width, 1, radius, scratch);
        for (int x = 0; x < plane.width; ++x)
            boxLine(&plane.values[x], plane.height, plane.width, radius, scratch);
    }
}

// Blurs each channel as its own plane.
void blurCanvas(Canvas& canvas, int radius, int passes) {
    Plane channel(canvas.width, canvas.height);
    for (int c = 0; c < 3; ++c) {
        for (size_t i = 0; i < canvas.pixels.size(); ++i)
            channel.values[i] = c == 0 ? canvas.pixels[i].r : c == 1 ? canvas.pixels[i].g : canvas.pixels[i].b;
        blurPlane(channel, radius, passes);
        for (size_t i = 0; i < canvas.pixels.size(); ++i)
            (c == 0 ? canvas.pixels[i].r : c == 1 ? canvas.pixels[i].g : canvas.pixels[i].b) = channel.values[i];
    }
}

void addPlane(Canvas& canvas, const Plane& plane, Rgb colour) {
    for (size_t i = 0; i < canvas.pixels.size(); ++i) canvas.pixels[i] += colour * plane.values[i];
}

// The additive layers must be exactly 0 at the edge: JPEG rounding of a faint
// glow would otherwise leave a visible frame around the screen.
void blackenBorder(Canvas& canvas, int border, int fade) {
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            int edge = std::min({x, y, canvas.width - 1 - x, canvas.height - 1 - y});
            if (edge < border) {
                canvas.at(x, y) = {};
            } else if (edge < border + fade) {
                canvas.at(x, y) = canvas.at(x, y) * smoothstep(float(border), float(border + fade), float(edge));
            }
        }
    }
}

std::vector<uint8_t> toRgb8(const Canvas& canvas) {
    std::vector<uint8_t> rgb(canvas.pixels.size() * 3);
    for (size_t i = 0; i < canvas.pixels.size(); ++i) {
        const Rgb& p = canvas.pixels[i];
        rgb[i * 3 + 0] = uint8_t(std::lround(clamp01(p.r) * 255.0f));
        rgb[i * 3 + 1] = uint8_t(std::lround(clamp01(p.g) * 255.0f));
        rgb[i * 3 + 2] = uint8_t(std::lround(clamp01(p.b) * 255.0f));
    }
    return rgb;
}

bool writeJpeg(const Canvas& canvas, const std::string& path, int quality) {
    std::vector<uint8_t> rgb = toRgb8(canvas);
    tjhandle handle = tjInitCompress();
    if (!handle) {
        std::fprintf(stderr, "tessera-paint: cannot start the JPEG encoder: %s\n", tjGetErrorStr());
        return false;
    }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    int status = tjCompress2(handle, rgb.data(), canvas.width, 0, canvas.height, TJPF_RGB, &jpeg, &size,
                             TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
    if (status != 0) {
        std::fprintf(stderr, "tessera-paint: cannot encode %s: %s\n", path.c_str(), tjGetErrorStr2(handle));
        tjDestroy(handle);
        return false;
    }
    std::string temporary = path + ".part";
    bool ok = false;
    if (FILE* file = std::fopen(temporary.c_str(), "wb")) {
        ok = std::fwrite(jpeg, 1, size, file) == size;
        ok = (std::fclose(file) == 0) && ok;
    }
    tjFree(jpeg);
    tjDestroy(handle);
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::perror(("tessera-paint: cannot write " + path).c_str());
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
