// spectrum.h -- the 512-bin magnitude spectrum the effects read.
//
// The spectrum of a moment is taken over the 1024 stereo frames that end at
// it: mono mix, periodic Hann window, real FFT. Bin k covers k * 44100 / 1024
// Hz, so bin 100 sits at about 4.3 kHz. Magnitudes are scaled so that a
// full-scale sine centred on a bin reads 1.0 there, and clamped to 0..1.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kSpectrumWindow = 1024;  // frames analysed
constexpr int kSpectrumBins = 512;     // magnitudes, 0 Hz up to below Nyquist

// window: kSpectrumWindow interleaved stereo frames (L, R), oldest first.
// out: kSpectrumBins magnitudes. Not thread-safe: one caller at a time.
void computeSpectrum(const int16_t* window, float* out);
