// test_pictures_tools.cpp -- the painter's own tools: line setting with
// FreeType, seamless noise, the black border of additive layers and safe
// JPEG output.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "canvas.h"
#include "lettering.h"
#include "pictures.h"
#include "test_texture_util.h"

namespace {

namespace fs = std::filesystem;

class Lettering : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        ASSERT_TRUE(openTypefaces(&reason)) << reason;
    }
};

}  // namespace

// Kerning pulls the classic pairs together (without it "AV" would be as wide
// as "A" and "V" set apart); tracking adds exactly its amount between letters
// and nothing after the last; the ink of a set line starts where the pen said
// it would.
TEST_F(Lettering, KerningTrackingAndInkBounds) {
    for (Typeface face : {Typeface::Sans, Typeface::SansBold, Typeface::Serif})
        for (const std::string pair : {"AV", "To", "Yo"}) {
            const TextStyle style{face, 40, 0};
            EXPECT_LT(lineAdvance(pair, style),
                      lineAdvance(pair.substr(0, 1), style) + lineAdvance(pair.substr(1), style) - 0.5f)
                << pair;
        }
    const TextStyle plain{Typeface::Sans, 24, 0}, spaced{Typeface::Sans, 24, 3};
    EXPECT_NEAR(lineAdvance("tessera", spaced) - lineAdvance("tessera", plain), 6 * 3.0f, 1e-3f);

    TextBlock block = setLine("tessera", plain);
    ASSERT_GT(block.coverage.width, 0);
    EXPECT_NEAR(block.coverage.width, block.advance, 4.0f);  // side bearings only
    EXPECT_GT(block.baselineY, 10.0f);                      // ascenders above the baseline
    float peak = 0;
    for (float v : block.coverage.values) peak = std::max(peak, v);
    EXPECT_GT(peak, 0.99f);
    EXPECT_LE(peak, 1.0f);
}

// Empty lines and lines of spaces set nothing; a broken UTF-8 byte still
// shows (as a replacement mark) instead of silently vanishing.
TEST_F(Lettering, EdgeCasesOfInput) {
    TextStyle style{Typeface::Sans, 20, 0};
    EXPECT_EQ(setLine("", style).coverage.width, 0);
    EXPECT_EQ(setLine("   ", style).coverage.width, 0);
    EXPECT_GT(lineAdvance("   ", style), 0.0f);
    EXPECT_GT(setLine("a\xFF", style).coverage.width, setLine("a", style).coverage.width);
    EXPECT_GT(setLine("\xC2\xB7", style).coverage.width, 0);  // the middle dot of the credits
}

// Noise laid out by angle must meet itself after one turn, or the corona and
// the sphere maps would show a seam.
TEST(PaintNoise, PeriodicNoiseWrapsAndStaysInRange) {
    for (float y : {0.0f, 0.37f, 5.5f}) {
        for (float x : {0.0f, 0.25f, 3.9f}) {
            EXPECT_FLOAT_EQ(periodicNoise(x, y, 7, 1), periodicNoise(x + 7, y, 7, 1));
            EXPECT_NEAR(periodicFbm(x, y, 12, 4, 2), periodicFbm(x + 12, y, 12, 4, 2), 1e-5f);
            float n = fbm3(x, y, x - y, 5, 3);
            EXPECT_GE(n, 0.0f);
            EXPECT_LT(n, 1.0f);
        }
    }
    EXPECT_EQ(hash01(3, 4, 5), hash01(3, 4, 5));
    EXPECT_NE(hash01(3, 4, 5), hash01(4, 3, 5));
}

// The border of an additive layer is forced to exact black and the fade
// inside it is monotonic; the middle is untouched.
TEST(PaintCanvas, BlackenBorderLeavesExactBlackEdge) {
    Canvas canvas(40, 30);
    for (Rgb& p : canvas.pixels) p = {0.8f, 0.5f, 1.0f};
    blackenBorder(canvas, 2, 5);
    for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(canvas.at(x, 0).r, 0.0f);
        EXPECT_EQ(canvas.at(x, 1).b, 0.0f);
        EXPECT_EQ(canvas.at(x, 29).g, 0.0f);
    }
    for (int x = 2; x < 8; ++x) EXPECT_LE(canvas.at(x, 15).r, canvas.at(x + 1, 15).r);
    EXPECT_FLOAT_EQ(canvas.at(20, 15).r, 0.8f);
    std::vector<uint8_t> rgb = toRgb8(canvas);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[(15 * 40 + 20) * 3 + 2], 255);
}

// A JPEG that cannot be written reports failure and leaves neither the file
// nor its temporary behind; one that can is complete under its final name.
TEST(PaintCanvas, JpegOutputIsAllOrNothing) {
    Canvas canvas(16, 16);
    canvas.at(3, 3) = {1, 1, 1};
    const testpics::ScratchDir dir;
    const std::string bad = dir.file("no/such/x.jpg"), good = dir.file("x.jpg");
    EXPECT_FALSE(writeJpeg(canvas, bad, 95));
    EXPECT_FALSE(fs::exists(bad) || fs::exists(bad + ".part"));
    EXPECT_TRUE(writeJpeg(canvas, good, 95));
    EXPECT_GT(fs::file_size(good), 100u);
    EXPECT_FALSE(fs::exists(good + ".part"));
}
