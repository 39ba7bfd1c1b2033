// spectrum.cpp -- magnitude spectrum of one analysis window through KissFFT.
#include "audio/spectrum.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>

namespace {

struct SpectrumState {
    kiss_fftr_cfg plan = nullptr;
    float hann[kSpectrumWindow];
    float input[kSpectrumWindow];
    kiss_fft_cpx output[kSpectrumWindow / 2 + 1];
};

SpectrumState state;

// The FFT plan and the window are made on first use and kept for the run.
void prepare() {
    if (state.plan) return;
    state.plan = kiss_fftr_alloc(kSpectrumWindow, 0, nullptr, nullptr);
    for (int n = 0; n < kSpectrumWindow; ++n)
        state.hann[n] = 0.5f - 0.5f * std::cos(2.0 * M_PI * n / kSpectrumWindow);
}

}  // namespace

// Mono mix, window, transform, scale. A sine of amplitude A centred on bin k
// gives |X[k]| = A * N / 4 under the periodic Hann window (coherent gain 1/2),
// so 4 / N maps full scale to 1.0. The 16-bit samples are first brought to
// -1..1, and the two channels averaged.
void computeSpectrum(const int16_t* window, float* out) {
    prepare();
    constexpr float kSampleScale = 1.0f / (2.0f * 32768.0f);
    for (int n = 0; n < kSpectrumWindow; ++n) {
        float mono = (float(window[2 * n]) + float(window[2 * n + 1])) * kSampleScale;
        state.input[n] = mono * state.hann[n];
    }
    kiss_fftr(state.plan, state.input, state.output);
    constexpr float kMagnitudeScale = 4.0f / kSpectrumWindow;
    for (int k = 0; k < kSpectrumBins; ++k) {
        float re = state.output[k].r, im = state.output[k].i;
        out[k] = std::clamp(std::sqrt(re * re + im * im) * kMagnitudeScale, 0.0f, 1.0f);
    }
}
