// light.cpp -- the radial layers and the four sphere-map pictures.
//
// The radial layers are seen through a very wide perspective that shows only
// the middle 57% of the picture, stretched to the 4:3 screen; they are
// painted in screen-round units so their circles come out round. The sphere
// maps are views of a mirror ball: each pixel is turned into the direction it
// reflects and the picture is painted as an environment of directions.
#include <algorithm>
#include <cmath>

#include "painters.h"

namespace {

constexpr float kPi = 3.14159265f;

// Half of the picture that the radial overlay shows, as a fraction of the
// picture's half-size: the layer quad lies at distance 0.1 under a 160-degree
// field of view, so the screen's half-height there is 0.1 * tan 80 degrees.
const float kVisibleHalf = 0.1f * std::tan(80.0f * kPi / 180.0f);

// Screen-round polar position of a pixel of a radial layer: r = 1 at the top
// and bottom edges of the screen, angle counter-clockwise from the right.
void radialPosition(const Canvas& canvas, int x, int y, float* r, float* angle, float* edge) {
    float u = ((x + 0.5f) / canvas.width) * 2 - 1;
    float v = 1 - ((y + 0.5f) / canvas.height) * 2;
    float su = u * (4.0f / 3.0f) / kVisibleHalf, sv = v / kVisibleHalf;
    *r = std::sqrt(su * su + sv * sv);
    *angle = std::atan2(sv, su);
    *edge = std::max(std::fabs(u), std::fabs(v));  // 1 at the picture's border
}

// Distance between two angles, wrapped to -pi..pi.
float angleBetween(float a, float b) {
    return std::remainder(a - b, 2 * kPi);
}

struct Direction {
    float x, y, z;
};

// The direction a mirror ball reflects at picture position (s, t), both 0..1
// with t = 0 at the top row: the sphere map's centre reflects straight back
// towards the viewer (+z), its rim what lies behind the ball (-z). Points
// beyond the rim take the rim's direction, so linear filtering at the edge
// of the disc never blends in a stray colour.
Direction reflectedDirection(float s, float t) {
    float x = s * 2 - 1, y = 1 - t * 2;
    float rr = x * x + y * y;
    if (rr > 0.9999f) {
        float k = std::sqrt(0.9999f / rr);
        x *= k;
        y *= k;
        rr = 0.9999f;
    }
    float nz = std::sqrt(1 - rr);
    return {2 * nz * x, 2 * nz * y, 2 * nz * nz - 1};
}

// Polar position in the sphere-map disc: rho 0 at the centre, 1 at the rim.
void discPosition(const Canvas& canvas, int x, int y, float* rho, float* angle) {
    float u = ((x + 0.5f) / canvas.width) * 2 - 1;
    float v = 1 - ((y + 0.5f) / canvas.height) * 2;
    *rho = std::min(1.0f, std::sqrt(u * u + v * v));
    *angle = std::atan2(v, u);
}

// Streamers of a corona: noise laid out by angle (wrapping with `period`
// features per turn) and stretched along the radius, sharpened into rays.
float streamers(float angle, float radius, int period, uint32_t seed) {
    float a = (angle / (2 * kPi) + 0.5f) * float(period);
    float n = periodicFbm(a, radius * 1.5f, period, 4, seed);
    return std::pow(clamp01(n * 1.35f - 0.15f), 2.2f);
}

}  // namespace

// A burst of light rays of hashed widths, lengths and strengths around a hot
// core, with faint ripples, in grey: the overlay tints each layer itself.
void paintRadialBurst(Canvas& canvas) {
    struct Ray {
        float angle, width, length, strength;
    };
    const int rayCount = 56;
    Ray rays[rayCount];
    for (int i = 0; i < rayCount; ++i) {
        rays[i].angle = (float(i) + (hash01(i, 1, 3) - 0.5f) * 0.8f) / rayCount * 2 * kPi;
        rays[i].width = 0.012f + 0.05f * std::pow(hash01(i, 2, 3), 2.0f);
        rays[i].length = 0.45f + 1.1f * hash01(i, 3, 3);
        rays[i].strength = 0.25f + 0.75f * hash01(i, 4, 3);
    }
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            float r, angle, edge;
            radialPosition(canvas, x, y, &r, &angle, &edge);
            float light = 0;
            for (const Ray& ray : rays) {
                float d = angleBetween(angle, ray.angle) / ray.width;
                if (std::fabs(d) > 4) continue;
                light += ray.strength * std::exp(-d * d) * std::exp(-r / ray.length);
            }
            // Fine striation along the rays, and a soft rise towards the core.
            float grain = periodicFbm((angle / (2 * kPi) + 0.5f) * 160, r * 3, 160, 3, 9);
            light *= 0.55f + 0.7f * grain;
            light *= smoothstep(0.0f, 0.12f, r) * 0.8f + 0.2f;
            light += 1.1f * std::exp(-r * r / 0.012f) + 0.35f * std::exp(-r / 0.22f);
            light += 0.07f * (0.5f + 0.5f * std::cos(r * 38)) * std::exp(-r * 1.4f);
            light *= smoothstep(0.98f, 0.82f, edge);
            float v = 1.0f - std::exp(-1.4f * light);  // soft shoulder, no hard clip
            canvas.at(x, y) = {v, v, v};
        }
    }
    blackenBorder(canvas, 2, 4);
}

// A total eclipse: the black disc of the moon, a thin blazing rim with a few
// red prominences and a bright bead, and a pearly corona of streamers fading
// into the dark. Nearly grey; the overlay tints it orange.
void paintCorona(Canvas& canvas) {
    const float moon = 0.30f;         // radius of the moon, screen-round units
    const float beadAngle = 2.25f;    // where the last sunlight breaks through
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            float r, angle, edge;
            radialPosition(canvas, x, y, &r, &angle, &edge);
            float pixel = 2.0f / (canvas.height * kVisibleHalf);  // r per picture pixel
            float past = r - moon;
            Rgb colour{};
            if (past > -pixel) {
                float outside = smoothstep(-pixel, pixel, past);
                float rays = streamers(angle, std::log(std::max(r, 0.05f)), 28, 21);
                float corona = std::exp(-std::max(past, 0.0f) / 0.16f) * (0.45f + 1.5f * rays);
                corona += 0.3f * std::exp(-std::max(past, 0.0f) / 0.6f) * (0.5f + 1.0f * rays);
                float rim = std::exp(-std::pow(std::max(past, 0.0f) / 0.012f, 2.0f)) * 1.3f;
                Rgb pearl{1.0f, 0.97f, 0.93f};
                colour = pearl * (corona + rim);
                // Prominences: small flames standing on the rim.
                for (int k = 0; k < 5; ++k) {
                    float at = hash01(k, 0, 77) * 2 * kPi;
                    float size = 0.012f + 0.02f * hash01(k, 1, 77);
                    float da = angleBetween(angle, at) * moon / size;
                    float dr = (past - size * 0.6f) / size;
                    colour += Rgb{1.0f, 0.42f, 0.45f} * (0.9f * std::exp(-(da * da + dr * dr)));
                }
                // The bead and its four-pointed flare.
                float bx = r * std::cos(angle) - moon * std::cos(beadAngle);
                float by = r * std::sin(angle) - moon * std::sin(beadAngle);
                float bead = std::exp(-(bx * bx + by * by) / 0.0006f) * 2.5f;
                bead += 0.5f * std::exp(-std::fabs(by) / 0.004f) * std::exp(-std::fabs(bx) / 0.18f);
                bead += 0.5f * std::exp(-std::fabs(bx) / 0.004f) * std::exp(-std::fabs(by) / 0.18f);
                colour += Rgb{1.0f, 1.0f, 0.96f} * bead;
                colour = colour * outside;
            }
            colour = colour * smoothstep(0.98f, 0.80f, edge);
            auto shoulder = [](float c) { return 1.0f - std::exp(-1.3f * c); };
            canvas.at(x, y) = {shoulder(colour.r), shoulder(colour.g), shoulder(colour.b)};
        }
    }
    blackenBorder(canvas, 2, 4);
}

// Sphere map of the silhouette scene's glow, added over a lit white mesh:
// black where the surface faces the viewer (so the lit mesh shows through)
// and a red-gold corona towards the rim, so the mesh's outline burns like
// the edge of an eclipse.
void paintRedEclipseMap(Canvas& canvas) {
    const Rgb gold = hexColour(0xffd27a), ember = hexColour(0xff5a1e), crimson = hexColour(0xb0102a);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            float rho, angle;
            discPosition(canvas, x, y, &rho, &angle);
            float rays = streamers(angle, rho * 2.0f, 22, 5);
            float ring = std::exp(-std::pow((rho - 0.52f) / 0.018f, 2.0f));
            float corona = smoothstep(0.5f, 1.0f, rho);
            Rgb colour = gold * (1.3f * ring);
            colour += mix(ember, crimson, corona) * (corona * (0.5f + 0.9f * rays));
            colour += ember * (0.35f * smoothstep(0.50f, 0.60f, rho) * rays);
            canvas.at(x, y) = {clamp01(colour.r), clamp01(colour.g), clamp01(colour.b)};
        }
    }
}

// Sphere map of the floating pair over the floor, modulated by their
// lighting: a deep navy heart with drifting nebula, an ice-white ring, and
// cyan streamers brightening towards the rim.
void paintBlueEclipseMap(Canvas& canvas) {
    const Rgb navy = hexColour(0x0a1640), indigo = hexColour(0x23246e), ice = hexColour(0xe6f6ff),
              cyan = hexColour(0x38c6ff);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            float rho, angle;
            discPosition(canvas, x, y, &rho, &angle);
            Direction d = reflectedDirection((x + 0.5f) / canvas.width, (y + 0.5f) / canvas.height);
            float cloud = fbm3(d.x * 2.2f, d.y * 2.2f, d.z * 2.2f, 4, 13);
            Rgb colour = mix(navy, indigo, smoothstep(0.35f, 0.75f, cloud)) * (1.0f + 0.6f * cloud);
            float rays = streamers(angle, rho * 2.0f, 18, 8);
            float ring = std::exp(-std::pow((rho - 0.56f) / 0.03f, 2.0f));
            float corona = smoothstep(0.52f, 1.0f, rho);
            colour += ice * (0.9f * ring);
            colour += mix(cyan, ice, corona * corona) * (corona * (0.35f + 0.75f * rays));
            canvas.at(x, y) = {clamp01(colour.r), clamp01(colour.g), clamp01(colour.b)};
        }
    }
}

// Sphere map of the cube lattice: a dusk sky over still water. Deep blue
// overhead through violet to an orange horizon, a low sun with its glitter
// path on the water, and two cool studio lights high up that give the cubes'
// faces crisp highlights as the lattice swings.
void paintDuskMap(Canvas& canvas) {
    const Rgb zenith = hexColour(0x0e1a5c), violet = hexColour(0x7a3a8c), horizon = hexColour(0xff8a3c),
              sunColour = hexColour(0xfff0c8), waterNear = hexColour(0x06303a), waterFar = hexColour(0x2a1040),
              studio = hexColour(0xdaf0ff);
    const float sx = 0.55f, sy = 0.10f, sz = 0.45f;
    const float sl = std::sqrt(sx * sx + sy * sy + sz * sz);
    const Direction sun{sx / sl, sy / sl, sz / sl};
    const float sunAzimuth = std::atan2(sun.x, sun.z);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            Direction d = reflectedDirection((x + 0.5f) / canvas.width, (y + 0.5f) / canvas.height);
            float azimuth = std::atan2(d.x, d.z);
            float toSun = std::acos(std::clamp(d.x * sun.x + d.y * sun.y + d.z * sun.z, -1.0f, 1.0f));
            Rgb colour;
            if (d.y >= 0) {
                float up = std::pow(d.y, 0.5f);
                colour = up < 0.5f ? mix(horizon, violet, up * 2) : mix(violet, zenith, up * 2 - 1);
                float haze = fbm3(d.x * 3, d.y * 9, d.z * 3, 4, 31);  // flat streaks of cloud
                colour = colour * (0.85f + 0.35f * haze);
                colour += sunColour * (std::exp(-toSun * toSun / 0.004f) * 1.6f + std::exp(-toSun / 0.25f) * 0.45f);
                // Two soft rectangular studio lights.
                for (int k = 0; k < 2; ++k) {
                    float centre = k == 0 ? -2.0f : 2.6f, width = 0.28f;
                    float da = std::fabs(angleBetween(azimuth, centre)) - width;
                    float de = std::fabs(d.y - 0.62f) - 0.12f;
                    float box = (1 - smoothstep(-0.02f, 0.04f, da)) * (1 - smoothstep(-0.02f, 0.04f, de));
                    colour += studio * (0.95f * box);
                }
            } else {
                float down = std::pow(-d.y, 0.6f);
                colour = mix(waterFar, waterNear, down);
                float ripple = fbm3(d.x * 14, d.y * 40, d.z * 14, 3, 57);
                float path = std::exp(-std::pow(angleBetween(azimuth, sunAzimuth) / 0.12f, 2.0f)) *
                             std::exp(d.y / 0.25f);
                colour += sunColour * (path * std::pow(ripple, 3.0f) * 2.2f);
                colour += horizon * (0.35f * std::exp(d.y / 0.06f));  // the sky's glow on the water
            }
            colour += horizon * (0.5f * std::exp(-std::fabs(d.y) / 0.025f));  // the horizon line
            canvas.at(x, y) = {clamp01(colour.r), clamp01(colour.g), clamp01(colour.b)};
        }
    }
}

// Sphere map of the inflated mesh seen from inside: a marbled aurora, noise
// warped by noise, in violet, teal, magenta and gold, with ribbons of light
// where the flow folds over itself.
void paintAuroraMap(Canvas& canvas) {
    const Rgb night = hexColour(0x120626), teal = hexColour(0x18b8a6), magenta = hexColour(0xd23c9c),
              gold = hexColour(0xffc95a);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            Direction d = reflectedDirection((x + 0.5f) / canvas.width, (y + 0.5f) / canvas.height);
            float px = d.x * 1.1f, py = d.y * 1.1f, pz = d.z * 1.1f;
            float qx = fbm3(px, py, pz, 4, 101), qy = fbm3(px + 5.2f, py + 1.3f, pz, 4, 102),
                  qz = fbm3(px, py + 2.7f, pz + 8.1f, 4, 103);
            float flow = fbm3(px + 2.5f * qx, py + 2.5f * qy, pz + 2.5f * qz, 4, 104);
            float ribbon = std::pow(1.0f - std::fabs(std::sin(flow * 7.0f)), 5.0f);
            Rgb colour = mix(night, teal, smoothstep(0.3f, 0.55f, flow));
            colour = mix(colour, magenta, smoothstep(0.45f, 0.72f, qx));
            colour = colour * (0.55f + 0.6f * flow);
            colour += gold * (ribbon * smoothstep(0.35f, 0.6f, qy) * 0.8f);
            colour += teal * (ribbon * 0.25f);
            canvas.at(x, y) = {clamp01(colour.r), clamp01(colour.g), clamp01(colour.b)};
        }
    }
}
