// tessera-bench-music -- figures for the music layer and the start of the demo.
//
//   start to first frame   from entry to the first presented frame (start-up
//                          in the offscreen context, audio through SDL)
//   opening the music      how long the start-up blocks in the audio steps
//   clock and spectrum     per-frame cost of two clock reads and a spectrum
//   audio thread CPU       share of one core while playing (SDL dummy driver,
//                          which pulls samples in real time like a device)
//
// usage: tessera-bench-music [WORKING_DIR]   (default: the build's assets/)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "audio/music.h"
#include "offscreen_gl.h"
#include "state/demo_state.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "window_offscreen.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Clock::time_point entry;
double firstFrameMs = -1;

}  // namespace

int main(int argc, char** argv) {
    entry = Clock::now();
    const std::string dir = argc > 1 ? argv[1] : TESSERA_ASSETS_DIR;
    if (chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "tessera-bench-music: cannot enter %s\n", dir.c_str());
        return 1;
    }
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    std::string reason;
    if (!musicFileIsPlayable(kMusicPath, &reason) || !offscreenCreate(640, 480, &reason)) {
        std::fprintf(stderr, "tessera-bench-music: %s\n", reason.c_str());
        return 1;
    }
    offscreenPresentHook = [] {
        if (firstFrameMs < 0) firstFrameMs = msSince(entry);
    };
    runStartup();
    runFrame();
    std::printf("start to first frame:        %8.1f ms (start-up in the offscreen context)\n", firstFrameMs);

    // The audio steps of the start-up, on their own.
    musicClose(musicStream);
    musicShutdown();
    const auto openStart = Clock::now();
    musicInit(kMusicRate);
    musicStream = musicOpen(kMusicPath);
    musicSetTime(musicStream, 0);
    musicPlay(musicStream);
    musicEnableSpectrum();
    spectrum = musicSpectrum();
    std::printf("opening the music blocks:    %8.2f ms (goal <= 20 ms)\n", msSince(openStart));

    musicDecodedFrames(musicStream);  // let the background decode finish
    constexpr int kReads = 2000;
    const auto readStart = Clock::now();
    for (int i = 0; i < kReads; ++i) {
        volatile int a = musicGetTime(musicStream), b = musicGetTime(musicStream);
        (void)a, (void)b;
        volatile float band = musicSpectrum()[100];
        (void)band;
    }
    std::printf("clock and spectrum per frame:%8.4f ms (goal <= 0.2 ms)\n", msSince(readStart) / kReads);

    const double cpuStart = cpuSeconds();
    const auto playStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double share = (cpuSeconds() - cpuStart) / (msSince(playStart) / 1000.0) * 100.0;
    std::printf("audio thread CPU:            %8.2f %% of one core while playing (goal <= 3 %%)\n", share);
    std::printf("music position after 3 s:    %8d ms\n", musicGetTime(musicStream));
    musicClose(musicStream);
    musicShutdown();
    return 0;
}
