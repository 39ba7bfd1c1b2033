// How a split render cuts its range, the tag a piece carries, and the
// presets' rules, without rendering anything.
#include <gtest/gtest.h>

#include <algorithm>

#include "join.h"
#include "presets.h"

// N parts cover the range exactly once, in order, each at least a frame,
// and no two differ by more than one frame.
TEST(RenderParts, PartsCoverTheRangeOnceAndEvenly) {
    const struct {
        long first, end;
        int parts;
    } cases[] = {{0, 15600, 2}, {0, 15600, 7}, {30, 120, 3}, {30, 120, 90}, {1000, 1001, 1}, {5, 104, 8},
                 {0, 2600000, 64}};
    for (const auto& c : cases) {
        long next = c.first, shortest = c.end, longest = 0;
        for (int k = 1; k <= c.parts; ++k) {
            long first = 0, count = 0;
            pieceFrames(c.first, c.end, k, c.parts, &first, &count);
            EXPECT_EQ(first, next) << "part " << k << " of " << c.parts;
            next = first + count;
            shortest = std::min(shortest, count);
            longest = std::max(longest, count);
        }
        EXPECT_EQ(next, c.end);
        EXPECT_GE(shortest, 1);
        EXPECT_LE(longest - shortest, 1);
    }
}

TEST(RenderParts, TagReadsBackAndRefusesWhatIsNotOne) {
    PieceInfo piece;
    piece.part = 3;
    piece.parts = 8;
    piece.preset = Preset::Archive;
    piece.width = 3840;
    piece.height = 2160;
    piece.fps = 60;
    piece.first = 5850;
    piece.count = 1950;
    piece.rangeFirst = 0;
    piece.rangeEnd = 15600;
    PieceInfo back;
    ASSERT_TRUE(parsePieceTag(pieceTag(piece), &back));
    EXPECT_EQ(pieceTag(back), pieceTag(piece));
    EXPECT_EQ(back.preset, Preset::Archive);

    const std::string good = pieceTag(piece);
    for (const std::string& bad : {std::string(""), good + " extra", good.substr(0, good.size() - 1) + "x",
                                   std::string("part 9/8 preset web size 160x120 fps 30 frames 0+1 range 0-1"),
                                   std::string("part 0/8 preset web size 160x120 fps 30 frames 0+1 range 0-1"),
                                   std::string("part 1/1 preset youtube size 160x120 fps 30 frames 0+1 range 0-1"),
                                   std::string("part 1/1 preset web size 160x120 fps 0 frames 0+1 range 0-1"),
                                   std::string("part 1/1 preset web size 160x120 fps 30 frames 0+0 range 0-1")})
        EXPECT_FALSE(parsePieceTag(bad, &back)) << bad;
}

TEST(RenderPresets, NamesContainersAndRateCaps) {
    Preset preset;
    for (const char* name : {"default", "web", "archive"}) {
        ASSERT_TRUE(presetByName(name, &preset));
        EXPECT_STREQ(presetName(preset), name);
    }
    EXPECT_FALSE(presetByName("Web", &preset));
    EXPECT_FALSE(presetByName("", &preset));
    EXPECT_TRUE(presetContainerProblem(Preset::Archive, "matroska").empty());
    EXPECT_FALSE(presetContainerProblem(Preset::Archive, "mp4").empty());
    EXPECT_FALSE(presetContainerProblem(Preset::Archive, "mov").empty());
    EXPECT_TRUE(presetContainerProblem(Preset::Web, "mp4").empty());
    // The sites' recommended upload rates, by height class and frame rate.
    EXPECT_EQ(webBitRateCap(1920, 1080, 60), 12000000);
    EXPECT_EQ(webBitRateCap(1920, 1080, 30), 8000000);
    EXPECT_EQ(webBitRateCap(3840, 2160, 60), 68000000);
    EXPECT_EQ(webBitRateCap(1440, 1080, 60), 12000000);
    EXPECT_EQ(webBitRateCap(1080, 1920, 60), 12000000);  // portrait
    EXPECT_EQ(webBitRateCap(640, 480, 60), 4000000);
    EXPECT_EQ(webBitRateCap(160, 120, 60), 1500000);
}
