// render_main.cpp -- tessera-render, the offline renderer.
//
// Runs the demo's own start-up and frame code in an offscreen context with a
// stepped music clock: frame k reads the clock at k * 1000 / fps ms, so a
// render is the same, bit for bit, on every run. Frames before --from are
// drawn and updated too (effects carry state through the whole run) but not
// written. The schedule's end exits the renderer as it exits the demo.
#include <GL/gl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "audio/music.h"
#include "offscreen_gl.h"
#include "shell/demo_state.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "window_offscreen.h"

namespace {

struct RenderOptions {
    int fps = 60;
    long from = 0;
    long to = -1;  // none: until the schedule ends
    std::set<long> pngAt;  // positions still to write
    bool everyFrame = false;  // --out without --png-at
    std::string outDir;
    bool bands = false;
    bool check = false;
};

RenderOptions options;
long framesPresented = 0;  // frames after the first update
long drawnPosition = 0;

[[noreturn]] void usage(const char* message) {
    if (message) std::fprintf(stderr, "tessera-render: %s\n", message);
    std::fprintf(stderr,
                 "usage: tessera-render [--fps N] [--from MS] [--to MS] [--png-at MS[,MS...]] [--out DIR]\n"
                 "                      [--bands] [--check]\n"
                 "Runs in the current working directory, which must hold music/ and textures/.\n"
                 "--out without --png-at writes every frame from --from to --to as frame-NNNNNN.png.\n");
    std::exit(message ? 2 : 0);
}

long parseNumber(const char* text, const char* option) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 0) {
        std::fprintf(stderr, "tessera-render: %s needs a whole number >= 0, not \"%s\"\n", option, text);
        std::exit(2);
    }
    return value;
}

void parseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) usage((std::string(arg) + " needs a value").c_str());
            return argv[++i];
        };
        if (!std::strcmp(arg, "--fps")) {
            options.fps = int(parseNumber(value(), "--fps"));
            if (options.fps < 1 || options.fps > 1000) usage("--fps must lie between 1 and 1000");
        } else if (!std::strcmp(arg, "--from")) {
            options.from = parseNumber(value(), "--from");
        } else if (!std::strcmp(arg, "--to")) {
            options.to = parseNumber(value(), "--to");
        } else if (!std::strcmp(arg, "--png-at")) {
            std::string list = value();
            for (size_t start = 0; start <= list.size();) {
                size_t comma = list.find(',', start);
                if (comma == std::string::npos) comma = list.size();
                options.pngAt.insert(parseNumber(list.substr(start, comma - start).c_str(), "--png-at"));
                start = comma + 1;
            }
        } else if (!std::strcmp(arg, "--out")) {
            options.outDir = value();
        } else if (!std::strcmp(arg, "--bands")) {
            options.bands = true;
        } else if (!std::strcmp(arg, "--check")) {
            options.check = true;
        } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage(nullptr);
        } else {
            usage((std::string("unknown option ") + arg).c_str());
        }
    }
    if (options.to >= 0 && options.to < options.from) usage("--to lies before --from");
    if (!options.pngAt.empty() && options.outDir.empty()) options.outDir.push_back('.');  // the working directory
    options.everyFrame = options.pngAt.empty() && !options.outDir.empty();
}

void writeFrame(const std::string& name) {
    const std::string path = options.outDir + "/" + name;
    if (!writePngRgb(path, offscreenWidth(), offscreenHeight(), offscreenReadRgb())) std::exit(1);
}

// Called by presentFrame with the finished picture in the framebuffer. The
// position drawn is the clock of the previous update.
void onPresent() {
    drawnPosition = long(musicTimeMs);
    if (framesPresented++ == 0) return;  // the frame before any update
    if (drawnPosition < options.from || (options.to >= 0 && drawnPosition > options.to)) return;
    if (options.bands)
        std::printf("%ld,%.9g,%.9g,%.9g\n", drawnPosition, bands.band100, bands.band150, bands.band250);
    if (options.everyFrame) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06ld.png", framesPresented - 2);
        writeFrame(name);
        return;
    }
    // Each requested position gets the first frame drawn at or past it.
    while (!options.pngAt.empty() && *options.pngAt.begin() <= drawnPosition) {
        char name[32];
        std::snprintf(name, sizeof name, "at-%06ld.png", *options.pngAt.begin());
        writeFrame(name);
        options.pngAt.erase(options.pngAt.begin());
    }
}

const char* glErrorName(GLenum error) {
    switch (error) {
        case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
        case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
        case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
        case GL_STACK_OVERFLOW: return "GL_STACK_OVERFLOW";
        case GL_STACK_UNDERFLOW: return "GL_STACK_UNDERFLOW";
        case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
        default: return "unknown GL error";
    }
}

// After every frame: no GL error raised, both matrix stacks back at depth 1.
void checkFrame() {
    bool failed = false;
    for (GLenum error; (error = glGetError()) != GL_NO_ERROR;) {
        std::fprintf(stderr, "tessera-render: frame drawn at %ld ms raised %s (0x%04x)\n", drawnPosition,
                     glErrorName(error), error);
        failed = true;
    }
    GLint modelview = 0, projection = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelview);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projection);
    if (modelview != 1 || projection != 1) {
        std::fprintf(stderr, "tessera-render: frame drawn at %ld ms left the matrix stacks at depth %d (modelview) and %d (projection)\n",
                     drawnPosition, modelview, projection);
        failed = true;
    }
    if (failed) std::exit(1);
}

void reportScheduleEnd() {
    std::fflush(stdout);
    if (musicTimeMs >= 260000) std::fprintf(stderr, "tessera-render: the schedule ended at %d ms\n", int(musicTimeMs));
}

}  // namespace

int main(int argc, char** argv) {
    parseOptions(argc, argv);
    std::string reason;
    if (!musicFileIsPlayable(kMusicPath, &reason)) {
        char cwd[4096];
        std::fprintf(stderr, "tessera-render: cannot play \"%s\" in the working directory %s: %s\n", kMusicPath,
                     getcwd(cwd, sizeof cwd) ? cwd : "(unknown)", reason.c_str());
        return 1;
    }
    if (!offscreenCreate(640, 480, &reason)) {
        std::fprintf(stderr, "tessera-render: no offscreen OpenGL: %s\n", reason.c_str());
        return 1;
    }
    if (!options.outDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.outDir, error);
        if (error) {
            std::fprintf(stderr, "tessera-render: cannot create %s: %s\n", options.outDir.c_str(),
                         error.message().c_str());
            return 1;
        }
    }
    if (options.bands) std::printf("ms,band100,band150,band250\n");
    std::atexit(reportScheduleEnd);

    musicUseSteppedClock();
    runStartup();
    offscreenPresentHook = onPresent;
    for (long frame = 0;; ++frame) {
        if (options.to >= 0 && framesPresented > 0 && drawnPosition > options.to) break;
        musicSetSteppedTime(int(frame * 1000 / options.fps));
        renderFrame();
        if (options.check) checkFrame();
    }
    if (!options.everyFrame && !options.pngAt.empty())
        std::fprintf(stderr, "tessera-render: %zu requested position(s) lie past --to and were not written\n",
                     options.pngAt.size());
    return 0;
}
