// synth.cpp -- filters, oscillators and envelopes of the composer.
#include "synth.h"

#include <algorithm>
#include <cmath>

namespace synth {

// Equal-power pan law, so a sound keeps its loudness wherever it is placed.
void panGains(float pan, float* gl, float* gr) {
    double a = (std::clamp(pan, -1.0f, 1.0f) + 1.0) * kPi / 4.0;
    *gl = float(std::cos(a) * std::sqrt(2.0));
    *gr = float(std::sin(a) * std::sqrt(2.0));
}

// RBJ low-pass section.
void Biquad::lowpass(double hz, double q) {
    double w = 2 * kPi * hz / kRate, c = std::cos(w), al = std::sin(w) / (2 * q);
    double a0 = 1 + al;
    b0 = (1 - c) / 2 / a0; b1 = (1 - c) / a0; b2 = b0;
    a1 = -2 * c / a0; a2 = (1 - al) / a0;
}

// RBJ high-pass section.
void Biquad::highpass(double hz, double q) {
    double w = 2 * kPi * hz / kRate, c = std::cos(w), al = std::sin(w) / (2 * q);
    double a0 = 1 + al;
    b0 = (1 + c) / 2 / a0; b1 = -(1 + c) / a0; b2 = b0;
    a1 = -2 * c / a0; a2 = (1 - al) / a0;
}

// RBJ band-pass section with 0 dB gain at the centre frequency.
void Biquad::bandpass(double hz, double q) {
    double w = 2 * kPi * hz / kRate, c = std::cos(w), al = std::sin(w) / (2 * q);
    double a0 = 1 + al;
    b0 = al / a0; b1 = 0; b2 = -al / a0;
    a1 = -2 * c / a0; a2 = (1 - al) / a0;
}

// RBJ notch: unity gain away from hz, a pair of zeros on the unit circle.
void Biquad::notch(double hz, double q) {
    double w = 2 * kPi * hz / kRate, c = std::cos(w), al = std::sin(w) / (2 * q);
    double a0 = 1 + al;
    b0 = 1 / a0; b1 = -2 * c / a0; b2 = b0;
    a1 = -2 * c / a0; a2 = (1 - al) / a0;
}

// The bilinear transform narrows a notch more the higher it sits, so the
// higher frequencies take wider notches (lower Q) for the same +-250 Hz.
BinNotches::BinNotches() {
    const double q[3] = {4.0, 5.0, 7.0}, offsets[4] = {-230, -75, 75, 230};
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 4; ++j) s[4 * k + j].notch(kBinHz[k] + offsets[j], q[k]);
}

// Trapezoidal SVF coefficients for cutoff hz and damping k.
SvfCoef SvfCoef::make(double hz, double k) {
    hz = std::clamp(hz, 20.0, 18000.0);
    double g = std::tan(kPi * hz / kRate);
    SvfCoef c;
    c.a1 = 1 / (1 + g * (g + k));
    c.a2 = g * c.a1;
    c.a3 = g * c.a2;
    return c;
}

// PolyBLEP correction removes most of the aliasing of the naive ramp.
float Saw::next(double hz) {
    double dt = hz / kRate;
    double v = 2 * phase - 1;
    if (phase < dt) {
        double t = phase / dt;
        v -= t + t - t * t - 1;
    } else if (phase > 1 - dt) {
        double t = (phase - 1) / dt;
        v -= t * t + t + t + 1;
    }
    phase += dt;
    if (phase >= 1) phase -= 1;
    return float(v);
}

// Equal temperament around A4.
double noteHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// Raised-cosine edges keep the first derivative continuous at both ends.
double Env::at(double t) const {
    if (t < 0 || t >= total()) return 0;
    double level;
    if (t < attack) {
        level = 0.5 - 0.5 * std::cos(kPi * t / attack);
    } else {
        double d = t - attack;
        level = sustain + (1 - sustain) * std::exp(-d / std::max(decay, 1e-4));
    }
    if (t > lengthSec) {
        // Level at gate close, faded out by a half cosine.
        double gate = lengthSec < attack ? 0.5 - 0.5 * std::cos(kPi * lengthSec / attack)
                                         : sustain + (1 - sustain) * std::exp(-(lengthSec - attack) / std::max(decay, 1e-4));
        double r = (t - lengthSec) / release;
        level = gate * (0.5 + 0.5 * std::cos(kPi * r));
    }
    return level;
}

// Exact values every kControlStep frames, straight lines between: cheap,
// and far finer than any envelope segment, so no steps are audible.
std::vector<float> Env::curve() const {
    long n = long(total() * kRate);
    std::vector<float> out(std::max(n, 0L));
    for (long i = 0; i < n; i += kControlStep) {
        double a = at(i / kRate);
        long j = std::min(n, i + kControlStep);
        double b = j < n ? at(j / kRate) : 0.0;
        for (long k = i; k < j; ++k) out[k] = float(a + (b - a) * (k - i) / double(kControlStep));
    }
    return out;
}

}  // namespace synth
