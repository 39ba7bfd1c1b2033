// schedule_sheet.cpp -- tessera-schedule-sheet: the whole demo on one page.
//
// Runs the demo's start-up and frame code in the offscreen context with the
// stepped clock at 60 frames per second (the rate the per-frame effects were
// made for) and keeps the first frame drawn at or past each chosen position:
// the start of every row of the schedule and a few moments inside the long
// rows. The stills are shrunk with pixman and laid out in a grid with the
// time and the scenes on under each, lettered with the painter's FreeType
// tools.
//
// Usage (in build/assets): tessera-schedule-sheet <out.png>
#include <pixman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/music.h"
#include "canvas.h"
#include "lettering.h"
#include "offscreen_gl.h"
#include "state/demo_state.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "state/schedule.h"
#include "window_offscreen.h"

namespace {

constexpr int kFps = 60;
constexpr int kColumns = 6;
constexpr int kThumbWidth = 240, kThumbHeight = 180;
constexpr int kGap = 8, kLabelHeight = 38, kHeaderHeight = 50;

// Moments inside the long rows, shown besides the start of every row.
constexpr int32_t kMomentsMs[] = {8000,   22000,  28000,  30000,  36200,  41500,  46500,  50000,  60000,  70000,
                                  76500,  83500,  89500,  100000, 110000, 128000, 133000, 153000, 157000, 161000,
                                  180000, 200000, 215000, 235000, schedule::kClosingCardMs, 253000, 256000, 259500};

// The positions shown, in order.
const std::vector<int> kPositions = [] {
    std::vector<int> out(std::begin(schedule::kRowStartsMs), std::end(schedule::kRowStartsMs));
    out.insert(out.end(), std::begin(kMomentsMs), std::end(kMomentsMs));
    std::sort(out.begin(), out.end());
    return out;
}();

struct Still {
    int position = 0;
    std::string scenes;
    std::vector<uint8_t> rgb;  // kThumbWidth x kThumbHeight, top row first
};

std::vector<Still> stills;
size_t nextPosition = 0;
bool firstFrame = true;

// The scenes and overlays on in the frame just drawn, in drawing order.
std::string scenesOn() {
    struct Name {
        bool on;
        const char* name;
    };
    const Name names[] = {{sceneFlags.faceOverlayOn, "faces"},     {sceneFlags.radialOverlayOn, "radial"},
                          {sceneFlags.displacedSceneOn, "inside"}, {sceneFlags.windowSceneOn, "window"},
                          {sceneFlags.halftoneSceneOn, "halftone"}, {sceneFlags.volumeSceneOn, "cubes"},
                          {sceneFlags.floorSceneOn, "floor"},      {sceneFlags.chessboardOverlayOn, "chess"},
                          {sceneFlags.titleCardOn, "card"}};
    std::string out;
    for (const Name& n : names)
        if (n.on) out += (out.empty() ? "" : " + ") + std::string(n.name);
    return out.empty() ? "overlays only" : out;
}

// The 640 x 480 frame shrunk to a thumbnail with pixman's good filter.
std::vector<uint8_t> shrink(const std::vector<uint8_t>& rgb, int width, int height) {
    std::vector<uint32_t> source(size_t(width) * height), target(size_t(kThumbWidth) * kThumbHeight);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = 0xFF000000u | rgb[3 * i] | rgb[3 * i + 1] << 8 | uint32_t(rgb[3 * i + 2]) << 16;
    pixman_image_t* from = pixman_image_create_bits(PIXMAN_a8b8g8r8, width, height, source.data(), width * 4);
    pixman_image_t* to =
        pixman_image_create_bits(PIXMAN_a8b8g8r8, kThumbWidth, kThumbHeight, target.data(), kThumbWidth * 4);
    pixman_transform_t scale;
    pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(width) / kThumbWidth),
                                pixman_double_to_fixed(double(height) / kThumbHeight));
    pixman_image_set_transform(from, &scale);
    pixman_image_set_filter(from, PIXMAN_FILTER_GOOD, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, kThumbWidth, kThumbHeight);
    pixman_image_unref(from);
    pixman_image_unref(to);
    std::vector<uint8_t> out(target.size() * 3);
    for (size_t i = 0; i < target.size(); ++i) {
        out[3 * i] = target[i] & 0xFF;
        out[3 * i + 1] = (target[i] >> 8) & 0xFF;
        out[3 * i + 2] = (target[i] >> 16) & 0xFF;
    }
    return out;
}

// Keeps the frame just drawn for every position it reaches.
void onPresent() {
    const int drawnAt = int(musicTimeMs);
    if (firstFrame) {  // drawn before any update: no schedule yet
        firstFrame = false;
        return;
    }
    while (nextPosition < kPositions.size() && kPositions[nextPosition] <= drawnAt) {
        stills.push_back({drawnAt, scenesOn(), shrink(offscreenReadRgb(), offscreenWidth(), offscreenHeight())});
        ++nextPosition;
        if (isatty(STDERR_FILENO))
            std::fprintf(stderr, "\r%zu of %zu stills", stills.size(), kPositions.size());
    }
}

void label(Canvas& sheet, const std::string& text, const TextStyle& style, int centreX, int baseline, Rgb colour) {
    TextBlock block = setLine(text, style);
    stampText(sheet, block, centreX - block.coverage.width / 2, baseline - int(block.baselineY + 0.5f), colour);
}

// Lays the stills out in rows with their labels and writes the PNG.
bool writeSheet(const std::string& path) {
    const int rows = int((stills.size() + kColumns - 1) / kColumns);
    const int cellWidth = kThumbWidth + kGap, cellHeight = kThumbHeight + kLabelHeight;
    Canvas sheet(kColumns * cellWidth + kGap, kHeaderHeight + rows * cellHeight);
    for (Rgb& p : sheet.pixels) p = {0.11f, 0.115f, 0.13f};
    label(sheet, "tessera \xE2\x80\x94 the whole demo, rendered at 60 frames per second", {Typeface::Sans, 17, 0.5f},
          sheet.width / 2, 32, {0.92f, 0.93f, 0.95f});
    for (size_t i = 0; i < stills.size(); ++i) {
        const int left = kGap + int(i % kColumns) * cellWidth, top = kHeaderHeight + int(i / kColumns) * cellHeight;
        for (int y = 0; y < kThumbHeight; ++y)
            for (int x = 0; x < kThumbWidth; ++x) {
                const uint8_t* c = &stills[i].rgb[3 * (size_t(y) * kThumbWidth + x)];
                sheet.at(left + x, top + y) = {c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f};
            }
        char time[32];
        std::snprintf(time, sizeof time, "%d:%04.1f", stills[i].position / 60000, stills[i].position % 60000 / 1000.0);
        const int centreX = left + kThumbWidth / 2;
        label(sheet, time, {Typeface::SansBold, 13, 0.3f}, centreX, top + kThumbHeight + 17, {0.95f, 0.95f, 0.96f});
        label(sheet, stills[i].scenes, {Typeface::Sans, 11, 0.2f}, centreX, top + kThumbHeight + 32,
              {0.62f, 0.65f, 0.7f});
    }
    return writePngRgb(path, sheet.width, sheet.height, toRgb8(sheet));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessera-schedule-sheet <out.png>   (run in build/assets)\n");
        return 2;
    }
    std::string reason;
    if (!openTypefaces(&reason) || !musicFileIsPlayable(kMusicPath, &reason) ||
        !offscreenCreate(640, 480, &reason)) {
        std::fprintf(stderr, "tessera-schedule-sheet: %s\n", reason.c_str());
        return 1;
    }
    musicUseSteppedClock();
    runStartup();
    offscreenPresentHook = onPresent;
    for (long frame = 0; nextPosition < kPositions.size(); ++frame) {
        musicSetSteppedTime(int(frame * 1000 / kFps));
        runFrame();
    }
    if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\n");
    if (!writeSheet(argv[1])) return 1;
    std::printf("tessera-schedule-sheet: wrote %s with %zu stills\n", argv[1], stills.size());
    return 0;
}
