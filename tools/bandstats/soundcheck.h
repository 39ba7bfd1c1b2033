// soundcheck.h -- measurements of the generated soundtrack: the three
// spectrum levels the picture reacts to, their statistics per section, the
// peak level and the onsets of the accents.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "marks.h"

namespace soundcheck {

// Decodes an MP3 file the way the demo does (gapless, 44.1 kHz, 16-bit
// stereo, interleaved). False with a reason on failure.
bool decodeMp3(const char* path, std::vector<int16_t>* pcm, std::string* reason);

// The levels of bins 100, 150 and 250 at the frames of a 60 fps run: frame
// k reads the music at k * 1000 / 60 ms (whole ms), as the demo's offline
// renderer does.
struct BandSeries {
    std::vector<int32_t> ms;
    std::vector<std::array<float, 3>> bands;
};

// Reads the levels through the music layer's stepped clock. The music layer
// is process-wide: call once per process. False with a reason on failure.
bool readBandsStepped(const char* path, int lengthMs, BandSeries* out, std::string* reason);

// The same levels computed directly from decoded samples.
BandSeries bandsFromPcm(const std::vector<int16_t>& pcm, int lengthMs);

// Statistics of one section.
struct SectionStats {
    int frames = 0;
    std::array<float, 3> median{}, p95{};
    // Hit levels over the levels between hits (drum sections only, else 0):
    // medians over every eighth note of the level just after it and of the
    // level half-way to the next.
    std::array<float, 3> hitRatio{};
};

SectionStats sectionStats(const BandSeries& series, int32_t startMs, int32_t endMs, bool drums);

// Largest absolute sample, as a fraction of full scale.
float peakLevel(const std::vector<int16_t>& pcm);

// The strongest onset within 40 ms of markMs: its position (ms, 1 ms
// resolution) and its strength, the energy of the 10 ms after it over the
// energy of the 30 ms before, in the band (low, middle, high or all) where
// that ratio is largest.
struct Onset {
    int32_t ms = 0;
    double strength = 0;
};
Onset onsetNear(const std::vector<int16_t>& pcm, int32_t markMs);

// Level of a quantile q (0..1) of values (nearest rank); 0 when empty.
float quantile(std::vector<float> values, double q);

}  // namespace soundcheck
