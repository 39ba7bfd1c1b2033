// The fifteen pictures the build paints, as the demo shows them, and the
// painter that makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "../tools/paint/picture_list.h"
#include "test_texture_util.h"

using namespace testpics;

namespace {

std::string builtPath(const char* name) { return std::string(TESSERA_ASSETS_DIR "/textures/") + name + ".jpg"; }

// The build's pictures, decoded once per process.
const Picture& load(const char* name) {
    static std::map<std::string, Picture> cache;
    const auto [it, added] = cache.try_emplace(name);
    if (added) it->second = readJpeg(builtPath(name));
    return it->second;
}

int brightest(const Picture& p, int x, int y) { return *std::max_element(p.at(x, y), p.at(x, y) + 3); }

// Pixels in the rectangle whose brightest channel exceeds `level`.
int inkIn(const Picture& p, PixelRect r, int level) {
    int count = 0;
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x) count += brightest(p, x, y) > level;
    return count;
}

bool isPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

const std::string kPainter = TESSERA_BINARY_DIR "/tools/paint/tessera-paint";

int runPainter(const std::string& arguments) {
    return std::system(("\"" + kPainter + "\" " + arguments + " > /dev/null 2>&1").c_str());
}

}  // namespace

// Every listed file is there at its listed size, with real light and
// variation, and suits how it is shown: layers added onto the frame are black
// at their border (no seam at the screen's edge); sphere maps, which wrap
// moving meshes, are coloured and free of pixel noise that would crawl.
TEST(Pictures, EveryPictureDecodesAtItsSizeAndSuitsItsUse) {
    int notPowerOfTwo = 0;
    for (const PictureInfo& info : kPictures) {
        SCOPED_TRACE(info.name);
        const Picture& p = load(info.name);
        ASSERT_FALSE(p.rgb.empty()) << "missing: " << builtPath(info.name);
        EXPECT_EQ(p.width, info.width);
        EXPECT_EQ(p.height, info.height);
        // The demo exercises the loader's rounding to powers of two; the
        // chessboards must not be resampled, or their blocks would blur.
        const bool powers = isPowerOfTwo(info.width) && isPowerOfTwo(info.height);
        notPowerOfTwo += !powers;
        EXPECT_TRUE(powers || info.use != PictureUse::Chessboard);

        int peak = 0, border = 0;
        double sum = 0, squares = 0, step = 0, saturation = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const uint8_t* c = p.at(x, y);
                for (int k = 0; k < 3; ++k) {
                    sum += c[k];
                    squares += double(c[k]) * c[k];
                    if (x + 1 < p.width) step += std::abs(c[3 + k] - c[k]);
                }
                const int hi = brightest(p, x, y);
                peak = std::max(peak, hi);
                if (std::min({x, y, p.width - 1 - x, p.height - 1 - y}) < 3) border = std::max(border, hi);
                saturation += hi - *std::min_element(c, c + 3);
            }
        const double mean = sum / p.rgb.size();
        EXPECT_GT(peak, 100);
        EXPECT_GT(mean, 3.0);
        EXPECT_GT(std::sqrt(squares / p.rgb.size() - mean * mean), 10.0);
        if (info.use == PictureUse::TitleCard || info.use == PictureUse::Overlay) {
            EXPECT_LE(border, 3);
        }
        if (info.use == PictureUse::SphereMap) {
            EXPECT_LT(step / ((p.width - 1) * p.height * 3.0), 6.0);  // mean neighbour step, grey levels
            EXPECT_GT(saturation / (p.width * p.height), 25.0);       // colour, not grey
        }
    }
    EXPECT_GE(notPowerOfTwo, 3);
}

// The title cards carry lettering where the layout puts it, and nothing in
// their margins: in particular not in the last hundredth of the width, which
// the card never shows.
TEST(Pictures, TitleCardsCarryLetteringInsideTheirMargins) {
    struct Case {
        const char* name;
        std::vector<PixelRect> textBoxes;
        int minimumInk;  // lit pixels per box
    };
    const Case cases[] = {
        {"intro", {kIntroTitleBox, kIntroSubtitleBox}, 400},
        {"who", {kWhoCreditsBox}, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture& p = load(c.name);
        ASSERT_FALSE(p.rgb.empty());
        for (const PixelRect& box : c.textBoxes) EXPECT_GE(inkIn(p, box, 90), c.minimumInk);
        const int m = kTitleMargin;
        EXPECT_EQ(inkIn(p, {0, 0, p.width, p.height}, 8), inkIn(p, {m, m, p.width - m, p.height - m}, 8))
            << "ink in the margins";
        // The lettering is set in light on black: most of the card stays dark.
        EXPECT_LT(inkIn(p, {0, 0, p.width, p.height}, 24), p.width * p.height / 4);
    }
}

// Chessboards are shown at full strength with nearest filtering: clearly black
// or white, about half of each, the tunnel's centre black, and each frame of
// the show order 3, 2, 1, 0 (and back to 3) a real step, not a repeat.
TEST(Pictures, ChessboardsAreBlackAndWhiteAndMove) {
    const char* order[] = {"scacchi4", "scacchi3", "scacchi2", "scacchi"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(order[i]);
        const Picture& p = load(order[i]);
        const Picture& next = load(order[(i + 1) % 4]);
        ASSERT_FALSE(p.rgb.empty());
        ASSERT_EQ(p.rgb.size(), next.rgb.size());
        int grey = 0, white = 0, changed = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const int v = brightest(p, x, y);
                grey += v > 24 && v < 231;
                white += v >= 231;
                changed += (v > 127) != (brightest(next, x, y) > 127);
            }
        const double pixels = p.width * p.height;
        EXPECT_LE(grey, pixels / 200);  // JPEG keeps edges clean
        EXPECT_GT(white / pixels, 0.3);
        EXPECT_LT(white / pixels, 0.7);
        EXPECT_LE(brightest(p, p.width / 2, p.height / 2), 24);
        EXPECT_GT(changed / pixels, 0.15) << "no real step to " << order[(i + 1) % 4];
    }
}

// Failures are loud: an unknown name, an unwritable folder or no folder at
// all end the painter with a failure status, and a picture asked for by name
// is the only one written. A full run gives the build's files byte for byte,
// well inside its time budget, and leaves no temporary behind.
TEST(PicturePainter, FailsLoudlyPaintsWhatIsAskedAndRepeatsTheBuildByteForByte) {
    ScratchDir dir;
    const auto quoted = [](const std::string& path) { return std::string(1, '"').append(path).append(1, '"'); };
    EXPECT_NE(runPainter(quoted(dir.path()) + " no_such_picture"), 0);
    EXPECT_NE(runPainter(quoted(dir.file("missing/dir"))), 0);
    EXPECT_NE(runPainter(""), 0);
    EXPECT_EQ(runPainter(quoted(dir.path()) + " scacchi3"), 0);
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        written.push_back(entry.path().filename().string());
    EXPECT_EQ(written, std::vector<std::string>{"scacchi3.jpg"});

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(runPainter(quoted(dir.path())), 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    for (const PictureInfo& info : kPictures) {
        SCOPED_TRACE(info.name);
        const std::vector<uint8_t> painted = readBytes(dir.file(std::string(info.name) + ".jpg"));
        ASSERT_FALSE(painted.empty());
        EXPECT_TRUE(painted == readBytes(builtPath(info.name)));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), std::ssize(kPictures));
}
