// lettering.cpp -- FreeType line setting with kerning and tracking.
#include "lettering.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// FreeType faces may not be used from two threads at once; the painter sets
// lines from both of its threads, so every use goes through this lock.
std::mutex faceLock;
FT_Library library = nullptr;
FT_Face faces[5] = {};

// Decodes UTF-8 into code points; a malformed byte becomes U+FFFD rather
// than being skipped, so a typo shows instead of vanishing.
std::vector<uint32_t> decodeUtf8(const std::string& text) {
    std::vector<uint32_t> points;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = text[i];
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        bool truncated = extra > 0 && i + size_t(extra) >= text.size();
        if (extra < 0 || truncated) {
            points.push_back(0xFFFD);
            ++i;
            continue;
        }
        uint32_t point = extra == 0 ? c : c & (0x3F >> extra);
        bool valid = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = text[i + k];
            if ((next & 0xC0) != 0x80) valid = false;
            point = (point << 6) | (next & 0x3F);
        }
        points.push_back(valid ? point : 0xFFFD);
        i += valid ? extra + 1 : 1;
    }
    return points;
}

struct PlacedGlyph {
    uint32_t index;
    double penX;  // pixels, fractional
};

// Lays out the line: pen positions with kerning (unhinted, so the kerning
// and the advances keep their fractional parts) and tracking.
std::vector<PlacedGlyph> layoutLine(const std::string& utf8, const TextStyle& style, double* advance) {
    std::vector<PlacedGlyph> placed;
    *advance = 0;
    FT_Face face = faces[int(style.face)];
    if (!face) return placed;
    FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(style.pixelSize * 64)), 72, 72);
    double pen = 0;
    uint32_t previous = 0;
    for (uint32_t point : decodeUtf8(utf8)) {
        uint32_t index = FT_Get_Char_Index(face, point);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector kern;
            if (FT_Get_Kerning(face, previous, index, FT_KERNING_UNFITTED, &kern) == 0) pen += kern.x / 64.0;
        }
        placed.push_back({index, pen});
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0)
            pen += face->glyph->linearHoriAdvance / 65536.0;
        pen += style.tracking;
        previous = index;
    }
    *advance = pen - (placed.empty() ? 0 : style.tracking);
    return placed;
}

}  // namespace

const char* typefacePath(Typeface face) {
    switch (face) {
        case Typeface::Sans: return "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
        case Typeface::SansBold: return "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
        case Typeface::Serif: return "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
        case Typeface::SerifBold: return "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
        case Typeface::Mono: return "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
    }
    return "";
}

bool openTypefaces(std::string* reason) {
    std::lock_guard<std::mutex> hold(faceLock);
    if (!library && FT_Init_FreeType(&library) != 0) {
        *reason = "cannot start FreeType";
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        if (faces[i]) continue;
        const char* path = typefacePath(Typeface(i));
        if (FT_New_Face(library, path, 0, &faces[i]) != 0) {
            faces[i] = nullptr;
            *reason = std::string("cannot open the font ") + path + " (Debian package fonts-dejavu-core)";
            return false;
        }
    }
    return true;
}

float lineAdvance(const std::string& utf8, const TextStyle& style) {
    std::lock_guard<std::mutex> hold(faceLock);
    double advance = 0;
    layoutLine(utf8, style, &advance);
    return float(advance);
}

// Renders each glyph with its outline shifted by the fractional part of its
// pen position, so letters sit where the kerning put them, not on whole pixels.
TextBlock setLine(const std::string& utf8, const TextStyle& style) {
    std::lock_guard<std::mutex> hold(faceLock);
    TextBlock block;
    double advance = 0;
    std::vector<PlacedGlyph> placed = layoutLine(utf8, style, &advance);
    block.advance = float(advance);
    FT_Face face = faces[int(style.face)];
    if (!face) return block;

    struct Bitmap {
        int left, top, width, height;
        std::vector<unsigned char> data;
    };
    std::vector<Bitmap> bitmaps;
    int minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
    for (const PlacedGlyph& glyph : placed) {
        if (FT_Load_Glyph(face, glyph.index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) continue;
        FT_GlyphSlot slot = face->glyph;
        double whole = std::floor(glyph.penX);
        FT_Outline_Translate(&slot->outline, FT_Pos(std::lround((glyph.penX - whole) * 64)), 0);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) continue;
        const FT_Bitmap& bm = slot->bitmap;
        if (bm.width == 0 || bm.rows == 0) continue;
        Bitmap b{int(whole) + slot->bitmap_left, -slot->bitmap_top, int(bm.width), int(bm.rows), {}};
        b.data.resize(size_t(b.width) * b.height);
        for (int y = 0; y < b.height; ++y)
            std::copy_n(bm.buffer + ptrdiff_t(y) * bm.pitch, b.width, &b.data[size_t(y) * b.width]);
        minX = std::min(minX, b.left);
        minY = std::min(minY, b.top);
        maxX = std::max(maxX, b.left + b.width);
        maxY = std::max(maxY, b.top + b.height);
        bitmaps.push_back(std::move(b));
    }
    if (bitmaps.empty()) return block;

    block.coverage = Plane(maxX - minX, maxY - minY);
    block.originX = float(-minX);
    block.baselineY = float(-minY);
    for (const Bitmap& b : bitmaps) {
        for (int y = 0; y < b.height; ++y) {
            for (int x = 0; x < b.width; ++x) {
                float& cell = block.coverage.at(b.left - minX + x, b.top - minY + y);
                cell = std::min(1.0f, cell + b.data[size_t(y) * b.width + x] / 255.0f);
            }
        }
    }
    return block;
}

void stampText(Canvas& canvas, const TextBlock& block, int left, int top, Rgb colour) {
    for (int y = 0; y < block.coverage.height; ++y) {
        for (int x = 0; x < block.coverage.width; ++x) {
            int cx = left + x, cy = top + y;
            if (cx < 0 || cy < 0 || cx >= canvas.width || cy >= canvas.height) continue;
            canvas.at(cx, cy) += colour * block.coverage.at(x, y);
        }
    }
}

void stampText(Plane& plane, const TextBlock& block, int left, int top, float weight) {
    for (int y = 0; y < block.coverage.height; ++y) {
        for (int x = 0; x < block.coverage.width; ++x) {
            int cx = left + x, cy = top + y;
            if (cx < 0 || cy < 0 || cx >= plane.width || cy >= plane.height) continue;
            plane.at(cx, cy) += weight * block.coverage.at(x, y);
        }
    }
}
