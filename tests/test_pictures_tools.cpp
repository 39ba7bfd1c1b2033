// test_pictures_tools.cpp -- the painter's own tools where the pictures do
// not show their faults: line setting from awkward input, noise that meets
// itself, and JPEG output that is all or nothing. (What the demo sees of the
// lettering and the black borders is checked on the pictures themselves.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "canvas.h"
#include "lettering.h"
#include "pictures.h"
#include "test_texture_util.h"

namespace fs = std::filesystem;

// Empty lines and lines of spaces set nothing; a broken UTF-8 byte still
// shows (as a replacement mark) instead of silently vanishing.
TEST(Lettering, EdgeCasesOfInput) {
    std::string reason;
    ASSERT_TRUE(openTypefaces(&reason)) << reason;
    const TextStyle style{Typeface::Sans, 20, 0};
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
            const float n = fbm3(x, y, x - y, 5, 3);
            EXPECT_TRUE(n >= 0.0f && n < 1.0f) << n;
        }
    }
    EXPECT_EQ(hash01(3, 4, 5), hash01(3, 4, 5));
    EXPECT_NE(hash01(3, 4, 5), hash01(4, 3, 5));
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
