// loudness.h -- loudness and mastering figures of the soundtrack: EBU R 128
// loudness through libebur128 (integrated, range, short-term, true peak),
// plus DC, stereo width and the long-term spectrum from our own code.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace soundcheck {

struct Loudness {
    double integrated = 0;  // LUFS
    double range = 0;       // LU (LRA)
    double truePeak = 0;    // dBTP, the larger of the two channels
    // Short-term loudness (LUFS, 3 s window) ending at every 100 ms step:
    // entry k is the window that ends at (k + 1) * 100 ms.
    std::vector<double> shortTerm;
};

// Measures interleaved 44.1 kHz stereo. False when the meter cannot start.
bool measureLoudness(const std::vector<int16_t>& pcm, Loudness* out);

// Short-term loudness of the window ending at ms (nearest 100 ms step at or
// before it); -70 before the first step.
double shortTermAt(const Loudness& l, int32_t ms);

// Short-term values whose windows end inside [fromMs, toMs).
std::vector<double> shortTermIn(const Loudness& l, int32_t fromMs, int32_t toMs);

// Mean of each channel over the whole piece, in dBFS (the larger of the two).
double dcLevelDb(const std::vector<int16_t>& pcm);

// Side energy over mid energy (dB) and the L/R correlation over a span.
struct Width {
    double sideOverMidDb = 0;
    double correlation = 0;
};
Width stereoWidth(const std::vector<int16_t>& pcm, int32_t fromMs, int32_t toMs);

// Mean power per bin of the demo's 512-bin spectrum over the whole piece,
// one window every 1024 frames (the squares of the spectrum code's
// magnitudes).
std::vector<double> averagePower(const std::vector<int16_t>& pcm);

// Power of the bins between loHz and hiHz (mean per bin) relative to the
// mean bin power of 100 Hz to 20 kHz, in dB.
double bandRelativeDb(const std::vector<double>& power, double loHz, double hiHz);

}  // namespace soundcheck
