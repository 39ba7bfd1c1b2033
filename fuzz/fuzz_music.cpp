// fuzz_music -- the music layer from a file's bytes: the playability check,
// opening, decoding the whole stream in the background thread, and reading
// the stepped clock's samples and spectrum at a few positions. Whatever the
// bytes, it must refuse them or decode a bounded stream, with every
// spectrum value a number in 0..1.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/music.h"
#include "audio/spectrum.h"

namespace {

int memoryFile = -1;
std::string memoryPath;

}  // namespace

// The stepped clock opens no audio device; the bytes go to the decoder
// through a file in memory, as the demo's decoder reads a path.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    musicUseSteppedClock();
    musicInit(kMusicRate);
    memoryFile = memfd_create("music", 0);
    if (memoryFile < 0) std::abort();
    memoryPath = "/proc/self/fd/" + std::to_string(memoryFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ftruncate(memoryFile, 0) != 0 || pwrite(memoryFile, data, size, 0) != ssize_t(size)) std::abort();
    std::string reason;
    if (!musicFileIsPlayable(memoryPath.c_str(), &reason)) {
        if (reason.empty()) std::abort();
        return 0;
    }
    MusicStream* stream = musicOpen(memoryPath.c_str());
    if (!stream) return 0;
    musicSetTime(stream, 0);
    musicPlay(stream);
    musicEnableSpectrum();
    const long long frames = musicDecodedFrames(stream);
    // A bounded stream: even a minimal free-format frame (576 samples at
    // 8 kHz in a dozen bytes) gives a few hundred frames a byte once
    // resampled to 44.1 kHz, far below this.
    if (frames < 0 || frames > 2000 * (long long)(size + 1024)) {
        std::fprintf(stderr, "%zu bytes decoded to %lld frames\n", size, frames);
        std::abort();
    }
    int16_t samples[2 * 64];
    for (long long at : {0LL, frames / 2, frames - 32, frames + 10}) {
        musicReadFrames(stream, at, 64, samples);
        musicSetSteppedTime(int(at * 1000 / kMusicRate));
        const float* spectrum = musicSpectrum();
        for (int k = 0; k < kSpectrumBins; ++k)
            if (!(spectrum[k] >= 0.0f && spectrum[k] <= 1.0f)) {
                std::fprintf(stderr, "bin %d reads %g\n", k, double(spectrum[k]));
                std::abort();
            }
    }
    musicClose(stream);
    return 0;
}
