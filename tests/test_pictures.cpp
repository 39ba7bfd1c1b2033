// test_pictures.cpp -- the fifteen pictures the build paints: present,
// decodable, the sizes the painter promises, black where they are added to
// the frame, never blank, lettering on the title cards, chessboards that stay
// black and white and move, and a painter that gives the same bytes twice.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../tools/paint/picture_list.h"

namespace {

namespace fs = std::filesystem;

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;  // top row first
    int at(int x, int y, int c) const { return rgb[(size_t(y) * width + x) * 3 + c]; }
    int brightest(int x, int y) const { return std::max({at(x, y, 0), at(x, y, 1), at(x, y, 2)}); }
};

struct ErrorTrap {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void trapError(j_common_ptr info) { longjmp(reinterpret_cast<ErrorTrap*>(info->err)->jump, 1); }

// Decodes a JPEG file to RGB; a missing or broken file gives false instead
// of ending the test run.
bool decode(const std::string& path, Picture* out) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    jpeg_decompress_struct info;
    ErrorTrap trap;
    info.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = trapError;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out->width = int(info.output_width);
    out->height = int(info.output_height);
    out->rgb.assign(size_t(out->width) * out->height * 3, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &out->rgb[size_t(info.output_scanline) * out->width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return true;
}

std::string picturePath(const std::string& directory, const char* name) {
    return directory + "/" + name + ".jpg";
}

const Picture& load(const char* name) {
    static std::vector<std::pair<std::string, Picture>> cache;
    for (const auto& [cached, picture] : cache)
        if (cached == name) return picture;
    Picture picture;
    decode(picturePath(TESSERA_ASSETS_DIR "/textures", name), &picture);
    cache.emplace_back(name, std::move(picture));
    return cache.back().second;
}

bool isPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

// Pixels in the rectangle whose brightest channel exceeds `level`.
int inkIn(const Picture& p, PixelRect r, int level) {
    int count = 0;
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x) count += p.brightest(x, y) > level;
    return count;
}

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kPainter = TESSERA_BINARY_DIR "/tools/paint/tessera-paint";

}  // namespace

// Every listed file is there after a build, decodes, and has its listed size.
TEST(Pictures, EveryFileDecodesAtItsListedSize) {
    for (const PictureInfo& info : kPictures) {
        SCOPED_TRACE(info.name);
        const Picture& p = load(info.name);
        ASSERT_FALSE(p.rgb.empty()) << "missing or undecodable: " << picturePath(TESSERA_ASSETS_DIR "/textures", info.name);
        EXPECT_EQ(p.width, info.width);
        EXPECT_EQ(p.height, info.height);
    }
}

// The demo itself exercises the loader's rounding to powers of two; the
// chessboards must not be resampled, or their blocks would blur.
TEST(Pictures, SizesExerciseTheLoaderButSpareTheChessboards) {
    int notPowerOfTwo = 0;
    for (const PictureInfo& info : kPictures) {
        bool square = isPowerOfTwo(info.width) && isPowerOfTwo(info.height);
        notPowerOfTwo += !square;
        if (info.use == PictureUse::Chessboard) {
            EXPECT_TRUE(square) << info.name;
        }
    }
    EXPECT_GE(notPowerOfTwo, 3);
}

// No picture is blank: each has real light in it and real variation.
TEST(Pictures, NoneIsBlank) {
    for (const PictureInfo& info : kPictures) {
        SCOPED_TRACE(info.name);
        const Picture& p = load(info.name);
        ASSERT_FALSE(p.rgb.empty());
        double sum = 0, squares = 0;
        int peak = 0;
        for (unsigned char c : p.rgb) {
            sum += c;
            squares += double(c) * c;
            peak = std::max(peak, int(c));
        }
        double mean = sum / p.rgb.size();
        double deviation = std::sqrt(squares / p.rgb.size() - mean * mean);
        EXPECT_GT(peak, 100);
        EXPECT_GT(mean, 3.0);
        EXPECT_GT(deviation, 10.0);
    }
}

// Layers that are added onto the frame are black at their border (within
// JPEG rounding), so no frame or seam appears at the edge of the screen.
TEST(Pictures, AdditivePicturesAreBlackAtTheirBorders) {
    for (const PictureInfo& info : kPictures) {
        if (info.use != PictureUse::TitleCard && info.use != PictureUse::Overlay) continue;
        SCOPED_TRACE(info.name);
        const Picture& p = load(info.name);
        ASSERT_FALSE(p.rgb.empty());
        int worst = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                if (std::min({x, y, p.width - 1 - x, p.height - 1 - y}) < 3) worst = std::max(worst, p.brightest(x, y));
        EXPECT_LE(worst, 3);
    }
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
        int strayInk = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                bool margin = x < kTitleMargin || y < kTitleMargin || x >= p.width - kTitleMargin ||
                              y >= p.height - kTitleMargin;
                strayInk += margin && p.brightest(x, y) > 8;
            }
        EXPECT_EQ(strayInk, 0);
        // The lettering is set in light on black: most of the card stays dark.
        EXPECT_LT(inkIn(p, {0, 0, p.width, p.height}, 24), p.width * p.height / 4);
    }
}

// Chessboards are shown at full strength with nearest filtering: every texel
// must be clearly black or white, about half of each, the centre of the
// tunnel black, and each frame of the show order 3, 2, 1, 0 (and back to 3)
// a real step of the animation, not a repeat.
TEST(Pictures, ChessboardsAreBlackAndWhiteAndMove) {
    const char* order[] = {"scacchi4", "scacchi3", "scacchi2", "scacchi"};
    for (const char* name : order) {
        SCOPED_TRACE(name);
        const Picture& p = load(name);
        ASSERT_FALSE(p.rgb.empty());
        int grey = 0, white = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                int v = p.brightest(x, y);
                grey += v > 24 && v < 231;
                white += v >= 231;
            }
        EXPECT_LE(grey, p.width * p.height / 200);  // JPEG keeps edges clean
        double share = double(white) / (p.width * p.height);
        EXPECT_GT(share, 0.3);
        EXPECT_LT(share, 0.7);
        EXPECT_LE(p.brightest(p.width / 2, p.height / 2), 24);
    }
    for (int i = 0; i < 4; ++i) {
        const Picture& a = load(order[i]);
        const Picture& b = load(order[(i + 1) % 4]);
        ASSERT_EQ(a.rgb.size(), b.rgb.size());
        int changed = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x) changed += (a.brightest(x, y) > 127) != (b.brightest(x, y) > 127);
        double share = double(changed) / (a.width * a.height);
        EXPECT_GT(share, 0.15) << order[i] << " -> " << order[(i + 1) % 4];
    }
}

// Sphere maps wrap meshes, so they must be lit and coloured across the
// whole disc, without dark holes or pixel noise (which would crawl on a
// moving mesh).
TEST(Pictures, SphereMapsAreSmoothAndColoured) {
    for (const PictureInfo& info : kPictures) {
        if (info.use != PictureUse::SphereMap) continue;
        SCOPED_TRACE(info.name);
        const Picture& p = load(info.name);
        ASSERT_FALSE(p.rgb.empty());
        double step = 0, saturation = 0;
        int samples = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x + 1 < p.width; ++x) {
                for (int c = 0; c < 3; ++c) step += std::abs(p.at(x + 1, y, c) - p.at(x, y, c));
                int hi = p.brightest(x, y);
                int lo = std::min({p.at(x, y, 0), p.at(x, y, 1), p.at(x, y, 2)});
                saturation += hi - lo;
                ++samples;
            }
        EXPECT_LT(step / (samples * 3.0), 6.0);       // mean neighbour step, grey levels
        EXPECT_GT(saturation / samples, 25.0);        // colour, not grey
    }
}

// The painter is deterministic: two runs give the same bytes, equal to the
// build's files, and it paints all fifteen well inside its time budget.
TEST(PicturePainter, RepeatsItselfByteForByteAndQuickly) {
    fs::path root = fs::temp_directory_path() / "tessera_paint_test";
    fs::remove_all(root);
    for (const char* run : {"a", "b"}) {
        fs::create_directories(root / run);
        auto start = std::chrono::steady_clock::now();
        std::string command = "\"" + kPainter + "\" \"" + (root / run).string() + "\" > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0);
    }
    for (const PictureInfo& info : kPictures) {
        SCOPED_TRACE(info.name);
        std::vector<char> a = fileBytes(picturePath((root / "a").string(), info.name));
        std::vector<char> b = fileBytes(picturePath((root / "b").string(), info.name));
        std::vector<char> built = fileBytes(picturePath(TESSERA_ASSETS_DIR "/textures", info.name));
        ASSERT_FALSE(a.empty());
        EXPECT_TRUE(a == b);
        EXPECT_TRUE(a == built);
        EXPECT_FALSE(fs::exists(picturePath((root / "a").string(), info.name) + ".part"));
    }
    fs::remove_all(root);
}

// Failures are loud: an unknown name or an unwritable folder ends the
// painter with a failure status, and a picture asked for by name is the
// only one written.
TEST(PicturePainter, FailsLoudlyAndPaintsOnlyWhatIsAsked) {
    fs::path root = fs::temp_directory_path() / "tessera_paint_fail";
    fs::remove_all(root);
    fs::create_directories(root);
    std::string quiet = " > /dev/null 2>&1";
    EXPECT_NE(std::system(("\"" + kPainter + "\" \"" + root.string() + "\" no_such_picture" + quiet).c_str()), 0);
    EXPECT_NE(std::system(("\"" + kPainter + "\" \"" + (root / "missing" / "dir").string() + "\"" + quiet).c_str()), 0);
    EXPECT_NE(std::system(("\"" + kPainter + "\"" + quiet).c_str()), 0);
    EXPECT_EQ(std::system(("\"" + kPainter + "\" \"" + root.string() + "\" scacchi3" + quiet).c_str()), 0);
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(root)) written.push_back(entry.path().filename().string());
    EXPECT_EQ(written, std::vector<std::string>{"scacchi3.jpg"});
    fs::remove_all(root);
}
