// bench_frames -- how long the demo's frames take on this machine, section by section.
//
// Runs the demo's own start-up and frame code in the offscreen context at
// 640 x 480 with the stepped clock (frame k at k * 1000 / fps ms) over the
// whole schedule, and prints for each section the number of frames, the
// median and 95th-percentile time to draw a frame (until glFinish), the
// median time of updateFrame alone and the frames per second that the median
// frame allows. The cube volume also reports how many cubes a frame draws.
// Two held moments follow: the heaviest window scene (meshE shown, meshF as
// the window: about 26,600 quads) and a lattice of 2,000 cubes.
//
// --screen WxH times the player's path on a screen of that size: the frame
// drawn at 640 x 480, then copied and scaled up to the screen's 4:3 rectangle
// (the time includes the scaling); with --native as well, the frame drawn at
// the rectangle's own size instead.
//
// usage (in build/assets): tessera-bench-frames [--fps N] [--screen WxH [--native]]
#include <GL/gl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/music.h"
#include "offscreen_gl.h"
#include "state/demo_state.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "shell/timeline.h"
#include "state/schedule.h"
#include "window_offscreen.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Section {
    const char* name;
    int from, to;  // ms of the position drawn
    std::vector<double> drawMs, updateMs;
    std::vector<int> cubes;
};

std::vector<Section> sections = [] {
    std::vector<Section> out;
    for (size_t i = 0; i < schedule::kSectionCount; ++i)
        out.push_back({schedule::kSections[i].name, schedule::kSections[i].startMs, schedule::sectionEndMs(i), {}, {}, {}});
    return out;
}();

Clock::time_point frameStart, drawn;
int cubesThisFrame = 0;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5))];
}

int countCubes() {
    return int(std::count_if(std::begin(volumeGrid), std::end(volumeGrid), [](float v) { return v != 0.0f; }));
}

// Called by presentFrame once the frame is drawn: wait for the rasteriser so
// the time covers the whole draw, not just the calls that queued it.
void onPresent() {
    glFinish();
    drawn = Clock::now();
    cubesThisFrame = sceneFlags.volumeSceneOn ? countCubes() : 0;
}

// One frame at the given clock; returns draw and update times in ms.
void timedFrame(int ms, double* drawMs, double* updateMs) {
    musicSetSteppedTime(ms);
    frameStart = Clock::now();
    runFrame();
    const auto end = Clock::now();
    *drawMs = msBetween(frameStart, drawn);
    *updateMs = msBetween(drawn, end);
}

void printRow(const char* name, const std::vector<double>& draw, const std::vector<double>& update,
              const char* extra) {
    const double median = percentile(draw, 0.5), updateMedian = percentile(update, 0.5);
    std::printf("%-22s %7zu %9.2f %9.2f %9.3f %8.1f  %s\n", name, draw.size(), median, percentile(draw, 0.95),
                updateMedian, 1000.0 / (median + updateMedian), extra);
}

}  // namespace

int main(int argc, char** argv) {
    int fps = 60, width = 640, height = 480;
    bool native = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--fps") && i + 1 < argc) {
            fps = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--screen") && i + 1 < argc &&
                   std::sscanf(argv[++i], "%dx%d", &width, &height) == 2 && width >= 16 && height >= 16 &&
                   width <= 8192 && height <= 8192) {
        } else if (!std::strcmp(argv[i], "--native")) {
            native = true;
        } else {
            std::fprintf(stderr,
                         "usage: tessera-bench-frames [--fps N] [--screen WxH [--native]]   (run in build/assets)\n");
            return 2;
        }
    }
    if (fps < 1 || fps > 1000) {
        std::fprintf(stderr, "tessera-bench-frames: --fps must lie between 1 and 1000\n");
        return 2;
    }
    std::string reason;
    if (!musicFileIsPlayable(kMusicPath, &reason)) {
        std::fprintf(stderr, "tessera-bench-frames: cannot play \"%s\" here (run it in build/assets): %s\n",
                     kMusicPath, reason.c_str());
        return 1;
    }
    if (!offscreenCreate(width, height, &reason)) {
        std::fprintf(stderr, "tessera-bench-frames: no offscreen OpenGL: %s\n", reason.c_str());
        return 1;
    }
    usePictureLayout(layoutPicture(width, height, native));
    musicUseSteppedClock();
    runStartup();
    offscreenPresentHook = onPresent;
    const bool progress = isatty(STDERR_FILENO);
    const auto runStart = Clock::now();

    // The schedule, stopping short of the end, which would exit.
    const long lastFrame = (long(schedule::kEndMs) * fps - 1) / 1000;
    for (long frame = 0; frame <= lastFrame; ++frame) {
        const int drawnAt = int(musicTimeMs);
        double draw, update;
        timedFrame(int(frame * 1000 / fps), &draw, &update);
        if (frame == 0) continue;  // the frame before any update
        for (Section& s : sections) {
            if (drawnAt < s.from || drawnAt >= s.to) continue;
            s.drawMs.push_back(draw);
            s.updateMs.push_back(update);
            if (cubesThisFrame) s.cubes.push_back(cubesThisFrame);
        }
        if (progress && frame % 60 == 0)
            std::fprintf(stderr, "\r%5.1f%%  %6.1f s of music", 100.0 * frame / lastFrame, drawnAt / 1000.0);
    }
    if (progress) std::fprintf(stderr, "\r%40s\r", "");

    const PictureLayout& layout = currentPictureLayout();
    std::printf("tessera-bench-frames: %d x %d screen, drawn at %d x %d%s, stepped clock at %d fps, times in ms\n\n",
                width, height, layout.drawn.width, layout.drawn.height,
                layout.scaled() ? " and scaled up to the picture rectangle" : "", fps);
    std::printf("%-22s %7s %9s %9s %9s %8s\n", "section", "frames", "median", "p95", "update", "fps");
    for (const Section& s : sections) {
        char extra[160] = "";
        if (!s.cubes.empty()) {
            std::vector<double> cubes(s.cubes.begin(), s.cubes.end());
            const double medianCubes = percentile(cubes, 0.5);
            std::snprintf(extra, sizeof extra, "cubes per frame: median %.0f, max %.0f; %.2f us per cube",
                          medianCubes, percentile(cubes, 1.0),
                          medianCubes > 0 ? 1000.0 * percentile(s.drawMs, 0.5) / medianCubes : 0.0);
        }
        printRow(s.name, s.drawMs, s.updateMs, extra);
    }

    // Held moments: the clock stands still, so only the per-frame steps move.
    std::vector<double> draw(300), update(300);
    sceneFlags = SceneFlags{};
    sceneFlags.radialOverlayOn = true;
    cues.windowShowsMesh = true;
    for (size_t i = 0; i < draw.size(); ++i) timedFrame(31500, &draw[i], &update[i]);
    std::printf("\n");
    printRow("meshE in meshF window", draw, update, "held at 31500 ms, enlarged copy on: 26,624 quads a frame");

    sceneFlags = SceneFlags{};
    cues.brushCircleOn = cues.brushWanderOn = cues.brushCamera = false;
    std::fill(std::begin(volumeGrid), std::end(volumeGrid), 0.0f);
    for (uint32_t state = 12345; countCubes() < 2000;) {
        state = state * 1664525u + 1013904223u;
        volumeGrid[(state >> 8) % kVolumeCells] = 0.5f;
    }
    std::vector<double> cubes;
    for (size_t i = 0; i < 100; ++i) {
        timedFrame(60000, &draw[i], &update[i]);
        cubes.push_back(cubesThisFrame);
    }
    draw.resize(100);
    update.resize(100);
    char extra[96];
    std::snprintf(extra, sizeof extra, "held at 60000 ms with %.0f cubes drawn", percentile(cubes, 0.5));
    printRow("2,000 cubes", draw, update, extra);

    std::fprintf(stderr, "tessera-bench-frames: %ld frames of the schedule and 400 held frames in %.0f s\n",
                 lastFrame + 1, msBetween(runStart, Clock::now()) / 1000.0);
    return 0;
}
