// synth.h -- the sound sources and filters the composer plays with.
//
// Everything renders offline into float buffers at 44.1 kHz. Each voice is
// written straight into a bus at its start frame; envelopes always begin and
// end at zero so that no note or section boundary clicks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace synth {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

// A stereo bus: two channels of the piece's full length.
struct Bus {
    std::vector<float> l, r;
    explicit Bus(size_t frames = 0) : l(frames, 0.0f), r(frames, 0.0f) {}
    size_t size() const { return l.size(); }
    // Adds a mono sample at frame i with pan gains.
    void add(long i, float v, float gl, float gr) {
        if (i < 0 || size_t(i) >= l.size()) return;
        l[i] += v * gl;
        r[i] += v * gr;
    }
};

// Frames of a position in ms (44.1 frames per ms, exact for whole ms).
inline long frameOf(double ms) { return long(ms * 44.1 + 0.5); }

// Equal-power pan gains for pan in -1 (left) .. 1 (right).
void panGains(float pan, float* gl, float* gr);

// Deterministic white noise: xorshift32, uniform in -1..1.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return float(int32_t(state)) * (1.0f / 2147483648.0f);
    }
};

// Second-order section (direct form I with double state); coefficients from
// the usual analogue prototypes through the bilinear transform.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    void lowpass(double hz, double q);
    void highpass(double hz, double q);
    void bandpass(double hz, double q);  // 0 dB at the centre
    void notch(double hz, double q);     // a zero at hz, 0 dB far from it
    float run(float x) {
        double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1; x1 = x; y2 = y1; y1 = y;
        return float(y);
    }
};

// The three frequencies the picture reads (bins 100, 150 and 250 of a
// 1024-point spectrum at 44.1 kHz).
constexpr double kBinHz[3] = {4306.6, 6459.9, 10766.6};

// Keeps a sound out of those three bins: around each, four staggered notches
// hold the level at least 40 dB down within +-250 Hz (wider than the
// analysis window's main lobe), while an octave away nothing is lost.
struct BinNotches {
    Biquad s[12];
    BinNotches();
    float run(float x) {
        for (auto& b : s) x = b.run(x);
        return x;
    }
};

// Coefficients of the state-variable filter for one cutoff and resonance
// k (2 = none). Callers refresh them every few samples while sweeping.
struct SvfCoef {
    double a1 = 1, a2 = 0, a3 = 0;
    static SvfCoef make(double hz, double k);
};

// State-variable filter (trapezoidal form), stable when its cutoff moves
// while it runs: the basses' and pads' filter sweeps go through it.
struct Svf {
    double ic1 = 0, ic2 = 0;
    // One step; returns the low-pass output.
    float lowpass(float x, const SvfCoef& c) {
        double v3 = x - ic2;
        double v1 = c.a1 * ic1 + c.a2 * v3;
        double v2 = ic2 + c.a2 * ic1 + c.a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        return float(v2);
    }
};

// How often (in frames) sweeping filters and envelopes are recomputed;
// in between, envelopes are interpolated linearly.
constexpr int kControlStep = 16;

// Band-limited sawtooth (polyBLEP), phase in 0..1.
struct Saw {
    double phase = 0;
    float next(double hz);
};

// MIDI note number to frequency (A4 = 69 = 440 Hz).
double noteHz(double note);

// Smooth gain envelope: raised-cosine attack, exponential decay towards a
// sustain level, raised-cosine release ending at exactly zero.
struct Env {
    double attack, decay, sustain, release;  // seconds, seconds, level, seconds
    double lengthSec;                        // gate length before the release
    // Level at t seconds after the note start.
    double at(double t) const;
    double total() const { return lengthSec + release; }
    // The level at every frame of the note, from control-rate points.
    std::vector<float> curve() const;
};

}  // namespace synth
