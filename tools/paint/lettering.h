// lettering.h -- set lines of text with FreeType for the title cards and the
// contact sheet.
//
// Glyphs are rendered unhinted at their exact fractional pen positions, with
// the font's own kerning and optional extra tracking, into a coverage plane
// that the painter then colours and glows as it likes.
#pragma once

#include <string>

#include "canvas.h"

enum class Typeface { Sans, SansBold, Serif, SerifBold, Mono };

// Path of each face in Debian's fonts-dejavu-core package.
const char* typefacePath(Typeface face);

// Opens every typeface. Returns false with a one-line reason (which file is
// missing and which package provides it) when one cannot be opened.
bool openTypefaces(std::string* reason);

struct TextStyle {
    Typeface face = Typeface::Sans;
    float pixelSize = 16;  // em size in pixels
    float tracking = 0;    // extra space after every letter, in pixels
};

// A set line: coverage 0..1 with the ink's bounding box exactly filling the
// plane, plus where the pen started and the baseline lie inside it.
struct TextBlock {
    Plane coverage;
    float originX = 0;   // pen start, relative to the plane's left edge
    float baselineY = 0; // baseline, relative to the plane's top edge
    float advance = 0;   // pen travel over the whole line, tracking included
};

// Sets one line of UTF-8 text. An empty or inkless line gives a 0 x 0 plane.
TextBlock setLine(const std::string& utf8, const TextStyle& style);

// Pen travel of a line without rendering it, for laying out columns.
float lineAdvance(const std::string& utf8, const TextStyle& style);

// Adds the block's coverage times `colour` onto the canvas with the plane's
// top-left corner at (left, top); parts outside the canvas are dropped.
void stampText(Canvas& canvas, const TextBlock& block, int left, int top, Rgb colour);

// Adds the block's coverage into a plane (for glows and masks).
void stampText(Plane& plane, const TextBlock& block, int left, int top, float weight);
