// cards.cpp -- the opening and closing title cards.
//
// A card is added onto the finished frame, so its background is pure black
// and everything on it is light. It ends up about 246 x 185 pixels on the
// 640 x 480 screen, which sets the smallest type it can carry.
#include <algorithm>
#include <string>

#include "lettering.h"
#include "painters.h"
#include "picture_list.h"

namespace {

// The accent palette of both cards: the three colours of a glass tessera.
const Rgb kTeal = hexColour(0x39c8c0);
const Rgb kGold = hexColour(0xf2c14e);
const Rgb kRose = hexColour(0xe8566c);

// Colour at position t (0..1) of the teal -> gold -> rose ramp.
Rgb accentRamp(float t) {
    return t < 0.5f ? mix(kTeal, kGold, t * 2) : mix(kGold, kRose, (t - 0.5f) * 2);
}

// The ink rectangle of a block placed with its top-left at (left, top).
PixelRect inkRect(const TextBlock& block, int left, int top) {
    return {left, top, left + block.coverage.width, top + block.coverage.height};
}

bool inside(const PixelRect& inner, const PixelRect& outer) {
    return inner.x0 >= outer.x0 && inner.y0 >= outer.y0 && inner.x1 <= outer.x1 && inner.y1 <= outer.y1;
}

// Sets a line centred on the card at the given baseline and checks that its
// ink stays inside `box`; a card whose text would be cut or crowd the edge
// is refused rather than written.
bool placeLine(const TextBlock& block, int centreX, int baseline, const PixelRect& box, const char* what,
               int* left, int* top, std::string* reason) {
    *left = centreX - block.coverage.width / 2;
    *top = baseline - int(block.baselineY + 0.5f);
    if (block.coverage.width == 0 || !inside(inkRect(block, *left, *top), box)) {
        *reason = std::string("the ") + what + " does not fit its box on the card";
        return false;
    }
    return true;
}

// Adds the line with a soft coloured halo behind it and a gentle vertical
// gradient through the letters (white at the top, cooler at the foot).
void lightLine(Canvas& canvas, const TextBlock& block, int left, int top, Rgb top_colour, Rgb foot_colour,
               Rgb glow, int glowRadius) {
    Plane halo(canvas.width, canvas.height);
    stampText(halo, block, left, top, 1.0f);
    blurPlane(halo, glowRadius, 3);
    addPlane(canvas, halo, glow);
    int rows = std::max(1, block.coverage.height - 1);
    for (int y = 0; y < block.coverage.height; ++y) {
        Rgb colour = mix(top_colour, foot_colour, float(y) / float(rows));
        for (int x = 0; x < block.coverage.width; ++x) {
            int cx = left + x, cy = top + y;
            if (cx < 0 || cy < 0 || cx >= canvas.width || cy >= canvas.height) continue;
            canvas.at(cx, cy) += colour * block.coverage.at(x, y);
        }
    }
}

// A row of small square tiles, the program's emblem: each tile takes its
// colour from the accent ramp and a little hashed variation in brightness, so
// the row reads as hand-laid glass rather than a gradient bar.
void tileRow(Canvas& canvas, int centreX, int top, int count, int size, int gap, uint32_t seed) {
    int width = count * size + (count - 1) * gap;
    int left = centreX - width / 2;
    for (int i = 0; i < count; ++i) {
        float t = count > 1 ? float(i) / float(count - 1) : 0.5f;
        float shade = 0.72f + 0.28f * hash01(i, 0, seed);
        Rgb colour = accentRamp(t) * shade;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                // Slightly lighter top-left edge: a bevel one pixel wide.
                float bevel = (x == 0 || y == 0) ? 1.18f : (x == size - 1 || y == size - 1) ? 0.8f : 1.0f;
                canvas.at(left + i * (size + gap) + x, top + y) += colour * bevel;
            }
        }
    }
}

// Finds the type size at which the line's ink is `inkWidth` pixels wide,
// starting from a guess and correcting once by proportion (ink width grows
// linearly with size, up to rasterisation).
TextStyle sizedToWidth(const std::string& text, TextStyle style, float inkWidth) {
    for (int pass = 0; pass < 2; ++pass) {
        TextBlock probe = setLine(text, style);
        if (probe.coverage.width > 0) style.pixelSize *= inkWidth / float(probe.coverage.width);
    }
    return style;
}

}  // namespace

// The opening card: "tessera" large and airy, a row of tiles as the accent,
// and a quiet tracked subtitle beneath.
bool paintIntroCard(Canvas& canvas, std::string* reason) {
    const int centreX = canvas.width / 2;
    int left, top;

    TextStyle titleStyle = sizedToWidth("tessera", {Typeface::Sans, 64, 5}, 250);
    TextBlock title = setLine("tessera", titleStyle);
    if (!placeLine(title, centreX, 138, kIntroTitleBox, "title", &left, &top, reason)) return false;
    lightLine(canvas, title, left, top, {1.0f, 0.99f, 0.96f}, {0.78f, 0.92f, 1.0f}, kTeal * 0.38f, 7);

    tileRow(canvas, centreX, 158, 15, 6, 3, 7);

    TextStyle subStyle{Typeface::Sans, 13, 1.6f};
    TextBlock subtitle = setLine("a real-time piece in light and sound", subStyle);
    if (!placeLine(subtitle, centreX, 192, kIntroSubtitleBox, "subtitle", &left, &top, reason)) return false;
    lightLine(canvas, subtitle, left, top, {0.80f, 0.82f, 0.85f}, {0.66f, 0.70f, 0.76f}, kTeal * 0.10f, 3);

    blackenBorder(canvas, 2, 6);
    return true;
}

// The closing card: the name again, smaller, the same tile row, then who
// made what, and the year.
bool paintClosingCard(Canvas& canvas, std::string* reason) {
    const int centreX = canvas.width / 2;
    int left, top;

    TextBlock title = setLine("tessera", {Typeface::Sans, 40, 3});
    if (!placeLine(title, centreX, 84, kWhoCreditsBox, "title", &left, &top, reason)) return false;
    lightLine(canvas, title, left, top, {1.0f, 0.99f, 0.96f}, {0.78f, 0.92f, 1.0f}, kTeal * 0.34f, 5);

    tileRow(canvas, centreX, 98, 9, 5, 3, 11);

    TextBlock roles = setLine("code \xC2\xB7 music \xC2\xB7 pictures", {Typeface::Sans, 14, 1.4f});
    if (!placeLine(roles, centreX, 138, kWhoCreditsBox, "roles line", &left, &top, reason)) return false;
    lightLine(canvas, roles, left, top, kGold, mix(kGold, kRose, 0.35f), kGold * 0.08f, 3);

    TextBlock makers = setLine("the tessera developers", {Typeface::SansBold, 19, 0.6f});
    if (!placeLine(makers, centreX, 166, kWhoCreditsBox, "makers line", &left, &top, reason)) return false;
    lightLine(canvas, makers, left, top, {1.0f, 1.0f, 1.0f}, {0.82f, 0.9f, 0.98f}, kTeal * 0.16f, 4);

    TextBlock year = setLine("2026", {Typeface::Sans, 14, 4});
    if (!placeLine(year, centreX, 206, kWhoCreditsBox, "year", &left, &top, reason)) return false;
    lightLine(canvas, year, left, top, {0.72f, 0.75f, 0.8f}, {0.6f, 0.64f, 0.7f}, kTeal * 0.06f, 3);

    blackenBorder(canvas, 2, 6);
    return true;
}
