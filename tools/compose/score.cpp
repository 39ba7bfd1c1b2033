// score.cpp -- the arrangement of the soundtrack and the instruments it uses.
//
// The piece is in A minor at 150 beats per minute (a sixteenth is 100 ms), with
// a middle part in D minor. It has an arc that follows the picture: a quiet
// intro, a pre-drop and a drop into the cube volume, a breakdown, build and
// drop in the halftone scene, and its loudest stretch on the floor.
//
// The picture reacts to three narrow frequencies (about 4.3, 6.5 and
// 10.8 kHz). Everything pitched, and the broadband part of the hats and
// cymbals, passes narrow notches there (BinNotches); the energy in those
// bins comes only from the bright bus: band-passed noise in the hats, claps
// and cymbals and a quiet bed, at levels set per stretch of the arc (Arc)
// and checked by the analysis tool.
#include "score.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "marks.h"
#include "synth.h"

namespace soundtrack {

using namespace synth;

namespace {

// ---------------------------------------------------------------- buses ---

Bus* duckBus;    // bass, pads, arpeggio: pumped by the kick
Bus* tonalBus;   // other pitched sounds and drum bodies
Bus* reverbSend; // what the room hears
Bus* leadBus;    // lead before its echo
Bus* brightBus;  // the in-bin part of hats, claps, cymbals and the bed: not notched
std::vector<float>* duckCurve;
long totalFrames;

// Levels at the analysed frequencies, set by measuring the encoded piece
// with tessera-bandstats: hats and claps make the hits, the bed the level
// between them, the crash keeps its brightness out of the analysed bins.
// top is the level of the broadband (notched) part of the same noise.
constexpr BrightGains kHatGains{1.2f, 0.75f, 0.22f, 0.30f};
constexpr BrightGains kOpenHatGains{1.5f, 0.55f, 0.24f, 0.30f};
constexpr BrightGains kClapGains{1.1f, 0.55f, 0.2f, 0.12f};
constexpr BrightGains kSnareGains{0.8f, 0.4f, 0.15f, 0.12f};  // rolls: many hits close together
constexpr BrightGains kCrashGains{0.12f, 0.08f, 0.04f, 0.55f};
constexpr BrightGains kBedGains{0.24f, 0.09f, 0.032f, 0.0f};

// ------------------------------------------------------------------ arc ---

// One stretch of the arc, from fromMs to the next row: the level of the
// pitched bus, the scale of the hits and of the bed in each analysed bin
// (1 = the gains above), and the feedback of the room's combs (longer tails
// in the breakdown). The levels switch over kArcRampMs at a row's start.
struct Arc {
    int32_t fromMs;
    float tonal;
    float hit[3], bed[3];
    float roomFeedback;
};

// The bins: calm stretches near the bottom of their ranges, the cube volume
// and the halftone drop livelier (more of bin 150 in the halftone scene, so
// its light swings further), the floor near the top.
constexpr Arc kArc[] = {
    {0, 1.0f, {0.8f, 0.85f, 0.6f}, {0.8f, 0.85f, 0.6f}, 0.82f},                      // intro
    {kDrumsInMs, 0.82f, {0.82f, 0.85f, 0.75f}, {0.8f, 0.85f, 0.7f}, 0.82f},          // drums in
    {kFirstSectionMs, 0.95f, {0.95f, 0.95f, 0.9f}, {0.95f, 0.95f, 0.9f}, 0.82f},     // first section
    {kSecondSectionMs, 1.0f, {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, 0.82f},         // second
    {kPreDropMs, 0.8f, {0.85f, 0.85f, 0.7f}, {0.8f, 0.85f, 0.7f}, 0.86f},            // pre-drop
    {kVolumeMs, 1.1f, {1.1f, 1.1f, 1.3f}, {1.35f, 1.2f, 1.55f}, 0.82f},              // the drop
    {kBreakMs, 1.0f, {0.8f, 0.85f, 0.6f}, {0.8f, 0.85f, 0.6f}, 0.82f},               // break
    {kReturnMs, 0.9f, {0.85f, 0.85f, 0.7f}, {0.85f, 0.85f, 0.7f}, 0.82f},            // return
    {kFullDrumsMs, 1.0f, {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, 0.82f},             // volume again
    {kHalftoneMs, 0.36f, {0.8f, 0.85f, 0.6f}, {0.75f, 0.8f, 0.6f}, 0.9f},            // breakdown
    {kBreakdownEndMs, 0.75f, {0.85f, 0.9f, 0.7f}, {0.8f, 0.85f, 0.7f}, 0.86f},       // build
    {kHalftoneChangeMs, 1.1f, {1.0f, 1.25f, 1.0f}, {1.1f, 1.7f, 1.1f}, 0.82f},       // halftone drop
    {kHalftoneSecondMs, 1.0f, {1.0f, 1.3f, 1.0f}, {1.0f, 1.4f, 1.0f}, 0.82f},        // halftone, second part
    {kFloorMs, 1.2f, {1.12f, 1.4f, 1.35f}, {1.65f, 1.55f, 1.8f}, 0.82f},             // the climax
    {kClosingMs, 0.9f, {0.85f, 0.85f, 0.75f}, {0.8f, 0.85f, 0.75f}, 0.84f},          // closing
    {kEndCardMs, 1.0f, {0.8f, 0.85f, 0.6f}, {0.8f, 0.85f, 0.6f}, 0.84f},             // end card
};
constexpr int kArcRampMs = 15;

// The row playing at ms.
const Arc& arcAt(double ms) {
    const Arc* a = &kArc[0];
    for (const Arc& r : kArc)
        if (r.fromMs <= ms) a = &r;
    return *a;
}

// Gains of a hit at ms: the instrument's own, scaled by its stretch.
BrightGains scaled(const BrightGains& g, double ms, bool bed = false) {
    const Arc& a = arcAt(ms);
    const float* k = bed ? a.bed : a.hit;
    return {g.g100 * k[0], g.g150 * k[1], g.g250 * k[2], g.top};
}

// A per-frame curve of one value of the arc, ramped at each row's start.
template <class Get>
std::vector<float> arcCurve(long frames, Get get) {
    std::vector<float> c(size_t(frames), get(kArc[0]));
    for (size_t k = 1; k < std::size(kArc); ++k) {
        const long f0 = frameOf(kArc[k].fromMs), f1 = k + 1 < std::size(kArc) ? frameOf(kArc[k + 1].fromMs) : frames;
        const float from = get(kArc[k - 1]), to = get(kArc[k]);
        const long ramp = frameOf(kArcRampMs);
        for (long i = f0; i < std::min(f1, frames); ++i) {
            const double u = std::min(1.0, double(i - f0) / ramp);
            c[size_t(i)] = float(from + (to - from) * (0.5 - 0.5 * std::cos(kPi * u)));
        }
    }
    return c;
}

// The drums' noise samples.
constexpr uint32_t kHatSeeds[2] = {0x1234567u, 0x7654321u};
constexpr uint32_t kOpenHatSeed = 0x2468ACEu, kClapSeed = 0x13579BDu, kSnareSeed = 0x0F1E2D3u;
constexpr uint32_t kCrashSeeds[2] = {0x5A5A5A5u, 0x3C3C3C3u};

// Seeds for every other noise (noise bed, bodies, risers), drawn in the
// fixed order of the arrangement so the piece repeats exactly.
constexpr uint32_t kFirstSeed = 12345;
uint32_t seedCounter = kFirstSeed;
int hatCount = 0;  // closed hats alternate between their two samples
uint32_t nextSeed() { return seedCounter = seedCounter * 1664525u + 1013904223u; }

// Floor division for the bar arithmetic before a bar origin.
long floorDiv(long a, long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// ---------------------------------------------------------- instruments ---

// Three band-passes centred on the analysed frequencies, each of fourth
// order so that one band's skirt barely reaches the next: the gains then set
// the three levels almost independently.
struct BrightBands {
    Biquad b[3][2];
    BrightBands() {
        const double hz[3] = {4306.6, 6459.9, 10766.6};
        for (int k = 0; k < 3; ++k)
            for (auto& s : b[k]) s.bandpass(hz[k], 2.2);
    }
    float run(float x, const BrightGains& g) {
        return g.g100 * b[0][1].run(b[0][0].run(x)) + g.g150 * b[1][1].run(b[1][0].run(x)) +
               g.g250 * b[2][1].run(b[2][0].run(x));
    }
};

// A metal hit: broadband noise above airHz (into the pitched bus, whose
// notches keep it out of the analysed bins) plus, on the bright bus, the
// same noise band-passed at the analysed frequencies at the calibrated
// levels g; env gives the level over time (seconds). The seed picks the
// noise: drums pass fixed seeds, so each of them is one recorded-sounding
// hit that repeats exactly, like a drum machine's sample.
template <class EnvFn>
void brightNoise(double ms, double lengthSec, const BrightGains& g, float vel, float pan, uint32_t seed, EnvFn env,
                 double airHz = 3500) {
    Noise noise(seed), other(seed ^ 0x2545F491u);
    BrightBands bands;
    Biquad air[2][2];
    for (auto& side : air)
        for (auto& a : side) a.highpass(airHz, 0.7071);
    float gl, gr;
    panGains(pan, &gl, &gr);
    long f0 = frameOf(ms), n = long(lengthSec * kRate);
    for (long i = 0; i < n; ++i) {
        float x = noise.next(), y = other.next();
        float e = vel * float(env(i / kRate));
        brightBus->add(f0 + i, bands.run(x, g) * e, gl, gr);
        // the broadband part differs left and right: the metal fills the width
        tonalBus->add(f0 + i, air[0][1].run(air[0][0].run(x)) * g.top * e, gl, 0);
        tonalBus->add(f0 + i, air[1][1].run(air[1][0].run(y)) * g.top * e, 0, gr);
    }
}

// Kick: a sine falling from about 170 Hz to 48 Hz with a short click; it
// also pulls down the pumping curve of the bass and pads.
void kick(double ms, float vel) {
    long f0 = frameOf(ms), n = long(0.45 * kRate);
    double phase = 0;
    Noise noise(nextSeed());
    Biquad clickLp;
    clickLp.lowpass(2500, 0.7);
    std::vector<float> amp = Env{0.0015, 0.22, 0.0, 0.05, 0.40}.curve();
    n = std::min(n, long(amp.size()));
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        double hz = 48 + 120 * std::exp(-t / 0.03);
        phase += 2 * kPi * hz / kRate;
        double click = clickLp.run(noise.next()) * std::exp(-t / 0.004) * 0.5;
        tonalBus->add(f0 + i, float((std::sin(phase) * amp[i] + click) * vel * 0.78), 1, 1);
    }
    // Pumping: dip to 35 % within 6 ms, recover over about 180 ms.
    long d = long(0.3 * kRate);
    for (long i = 0; i < d && f0 + i < totalFrames; ++i) {
        double t = i / kRate;
        double dip = t < 0.006 ? 0.5 - 0.5 * std::cos(kPi * t / 0.006) : std::exp(-(t - 0.006) / 0.07);
        float g = float(1.0 - 0.65 * vel * dip);
        if (f0 + i >= 0) (*duckCurve)[f0 + i] = std::min((*duckCurve)[f0 + i], g);
    }
}

// Clap: three quick noise bursts and a tail, mid-band body plus its bright top.
void clap(double ms, float vel, bool snare = false) {
    auto env = [snare](double t) {
        double e = 0;
        for (int k = 0; k < 3; ++k) {
            double tk = t - 0.009 * k;
            if (tk >= 0 && !snare) e = std::max(e, std::exp(-tk / 0.0045));
        }
        double start = snare ? 0.0 : 0.018;
        if (t >= start) e = std::max(e, std::exp(-(t - start) / (snare ? 0.06 : 0.075)) * (snare ? 1.0 : 0.8));
        double a = std::min(1.0, t / 0.0008);
        double fade = t > 0.32 ? std::max(0.0, 1 - (t - 0.32) / 0.04) : 1.0;
        return e * a * fade;
    };
    long f0 = frameOf(ms), n = long(0.36 * kRate);
    // Its noise differs left and right, so the hands clap across the image.
    const uint32_t seed = nextSeed();
    Noise noise[2] = {Noise(seed), Noise(seed ^ 0x5DEECE6u)};
    Biquad bp1[2], bp2[2];
    for (int ch = 0; ch < 2; ++ch) {
        bp1[ch].bandpass(1500, 0.9);
        bp2[ch].bandpass(2600, 1.2);
    }
    double phase = 0;
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        double body = 0;
        if (snare) {
            phase += 2 * kPi * (190 + 60 * std::exp(-t / 0.01)) / kRate;
            body = std::sin(phase) * std::exp(-t / 0.05) * std::min(1.0, t / 0.001) * 0.6;
        }
        for (int ch = 0; ch < 2; ++ch) {
            float x = noise[ch].next();
            float v = float((bp1[ch].run(x) * 0.9 + bp2[ch].run(x) * 0.6) * env(t) + body) * vel * 0.8f;
            tonalBus->add(f0 + i, v, ch == 0, ch == 1);
            reverbSend->add(f0 + i, v * 0.35f, ch == 0, ch == 1);
        }
    }
    // The bright part dies faster than the body, so the level the picture
    // sees falls back between the beats.
    brightNoise(ms, 0.2, scaled(snare ? kSnareGains : kClapGains, ms), vel, 0.0f, snare ? kSnareSeed : kClapSeed, [snare](double t) {
        double e = 0;
        for (int k = 0; k < 3; ++k) {
            double tk = t - 0.009 * k;
            if (tk >= 0 && !snare) e = std::max(e, std::exp(-tk / 0.0045));
        }
        double start = snare ? 0.0 : 0.018;
        if (t >= start) e = std::max(e, std::exp(-(t - start) / 0.03) * (snare ? 1.0 : 0.8));
        double fade = t > 0.16 ? std::max(0.0, 1 - (t - 0.16) / 0.04) : 1.0;
        return e * std::min(1.0, t / 0.0008) * fade;
    });
}

// Closed hat: a short burst of bright noise.
void closedHat(double ms, float vel, float pan) {
    brightNoise(ms, 0.14, scaled(kHatGains, ms), vel, pan, kHatSeeds[hatCount++ % 2], [](double t) {
        double a = std::min(1.0, t / 0.0005);
        double fade = t > 0.10 ? std::max(0.0, 1 - (t - 0.10) / 0.04) : 1.0;
        return a * std::exp(-t / 0.022) * fade;
    });
}

// Open hat: the same noise, ringing longer but gone before the next eighth.
void openHat(double ms, float vel, float pan) {
    brightNoise(ms, 0.19, scaled(kOpenHatGains, ms), vel, pan, kOpenHatSeed, [](double t) {
        double a = std::min(1.0, t / 0.001);
        double fade = t > 0.15 ? std::max(0.0, 1 - (t - 0.15) / 0.04) : 1.0;
        return a * std::exp(-t / 0.035) * fade;
    });
}

// Crash: a long wash whose brightness sits mostly above the analysed band.
void crash(double ms, float vel) {
    brightNoise(ms, 2.6, kCrashGains, vel, -0.2f, kCrashSeeds[0], [](double t) {
        double a = std::min(1.0, t / 0.001);
        double fade = t > 2.2 ? std::max(0.0, 1 - (t - 2.2) / 0.4) : 1.0;
        return a * (0.55 * std::exp(-t / 0.08) + 0.45 * std::exp(-t / 0.7)) * fade;
    }, 1800);
    brightNoise(ms, 2.6, kCrashGains, vel * 0.8f, 0.35f, kCrashSeeds[1], [](double t) {
        double a = std::min(1.0, t / 0.0015);
        double fade = t > 2.2 ? std::max(0.0, 1 - (t - 2.2) / 0.4) : 1.0;
        return a * std::exp(-t / 0.8) * fade;
    }, 2500);
    // Its body, in the pitched bus.
    long f0 = frameOf(ms), n = long(1.5 * kRate);
    Noise noise(nextSeed());
    Biquad bp;
    bp.bandpass(2200, 0.6);
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        double e = std::min(1.0, t / 0.001) * std::exp(-t / 0.35) * (t > 1.3 ? std::max(0.0, 1 - (t - 1.3) / 0.2) : 1.0);
        float v = float(bp.run(noise.next()) * e * 0.35 * vel);
        tonalBus->add(f0 + i, v, 1, 1);
        reverbSend->add(f0 + i, v * 0.5f, 1, 1);
    }
}

// A steady bed of soft bright noise under the drums, so the picture never
// rests at zero between hits; uncorrelated left and right for width. Its
// levels are the stretch's, taken where the bed starts.
void noiseBed(double startMs, double endMs, float level) {
    const BrightGains gains = scaled(kBedGains, startMs, true);
    for (int ch = 0; ch < 2; ++ch) {
        Noise noise(nextSeed());
        BrightBands bands;
        long f0 = frameOf(startMs), f1 = frameOf(endMs);
        double fadeSec = 0.25;
        for (long i = f0; i < f1; ++i) {
            double t = (i - f0) / kRate, left = (f1 - i) / kRate;
            double e = std::min({1.0, t / fadeSec, left / fadeSec});
            e = 0.5 - 0.5 * std::cos(kPi * e);
            float x = noise.next();
            float v = bands.run(x, gains);
            v *= level * float(e);
            if (ch == 0) brightBus->add(i, v, 1, 0);
            else brightBus->add(i, v, 0, 1);
        }
    }
}

// Bass: two detuned saws and a sine sub under a resonant low-pass whose
// cutoff falls after each attack.
void bass(double ms, double lenSec, double note, float vel, double cutoff, double envAmt) {
    Saw s1, s2;
    s2.phase = 0.37;
    Svf f;
    double sub = 0, hz = noteHz(note);
    std::vector<float> env = Env{0.003, 0.25, 0.75, 0.03, lenSec}.curve();
    long f0 = frameOf(ms), n = long(env.size());
    SvfCoef co;
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        if (i % kControlStep == 0) co = SvfCoef::make(cutoff + envAmt * std::exp(-t / 0.07), 0.9);
        sub += 2 * kPi * hz / kRate;
        double x = 0.5 * (s1.next(hz * 1.003) + s2.next(hz * 0.997));
        double y = f.lowpass(float(x), co);
        float v = float((y * 0.56 + std::sin(sub) * 0.44) * env[i] * vel);
        duckBus->add(f0 + i, v, 1, 1);
    }
}

// Frames by which a pad's right side trails its left.
constexpr long kPadSpread = 530;

// Pad: three detuned saws per note spread across the stereo field, through
// a four-pole low-pass that breathes slowly. With fadeSec > 0 the chord
// dies away with that time constant instead of holding.
void pad(double ms, double lenSec, const int* notes, int count, float vel, double cutoff, double fadeSec = 0) {
    std::vector<float> env =
        (fadeSec > 0 ? Env{0.35, fadeSec, 0.0, 0.9, lenSec} : Env{0.35, 1.0, 1.0, 0.9, lenSec}).curve();
    long f0 = frameOf(ms), n = long(env.size());
    for (int k = 0; k < count; ++k) {
        double hz = noteHz(notes[k]);
        Saw sa, sb, sc;
        sa.phase = 0.11 * k; sb.phase = 0.5 + 0.07 * k; sc.phase = 0.3;
        Svf fl1, fl2, fr1, fr2;
        SvfCoef co;
        for (long i = 0; i < n; ++i) {
            double t = i / kRate;
            if (i % kControlStep == 0)
                co = SvfCoef::make(cutoff * (1 + 0.18 * std::sin(2 * kPi * 0.15 * (ms / 1000 + t) + k)), 1.6);
            double a = sa.next(hz * 0.996), b = sb.next(hz), c = sc.next(hz * 1.004);
            double l = a + 0.3 * b, r = c + 0.3 * b;  // mostly its own saws per side: wide
            float yl = fl2.lowpass(fl1.lowpass(float(l), co), co);
            float yr = fr2.lowpass(fr1.lowpass(float(r), co), co);
            float e = env[i] * vel * 0.11f;
            duckBus->add(f0 + i, yl * e, 1, 0);
            duckBus->add(f0 + i + kPadSpread, yr * e, 0, 1);  // a little later on the right: wider
            reverbSend->add(f0 + i, (yl + yr) * e * 0.4f, 1, 1);
        }
    }
}

// Lead: two saws with vibrato and a plucked filter, one leaning to each
// side; goes through the echo.
void lead(double ms, double lenSec, double note, float vel) {
    Saw s1, s2;
    s2.phase = 0.25;
    Svf f, g;
    std::vector<float> env = Env{0.006, 0.35, 0.55, 0.09, lenSec}.curve();
    long f0 = frameOf(ms), n = long(env.size());
    double hz0 = noteHz(note);
    SvfCoef co;
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        if (i % kControlStep == 0) co = SvfCoef::make(1800 + 3200 * std::exp(-t / 0.12), 1.3);
        double vib = t > 0.15 ? 0.004 * std::min(1.0, (t - 0.15) / 0.2) * std::sin(2 * kPi * 5.2 * t) : 0;
        double hz = hz0 * (1 + vib);
        double a = s1.next(hz * 1.0035), b = s2.next(hz * 0.9965);
        double yl = f.lowpass(float(0.7 * a + 0.3 * b), co), yr = g.lowpass(float(0.3 * a + 0.7 * b), co);
        float e = float(env[i] * vel * 0.30);
        leadBus->add(f0 + i, float(yl) * e, 1, 0);
        leadBus->add(f0 + i, float(yr) * e, 0, 1);
    }
}

// Arpeggio pluck: one saw with a fast filter envelope.
void arp(double ms, double note, float vel, float pan, double bright) {
    Saw s;
    Svf f;
    std::vector<float> env = Env{0.002, 0.09, 0.0, 0.04, 0.09}.curve();
    long f0 = frameOf(ms), n = long(env.size());
    double hz = noteHz(note);
    float gl, gr;
    panGains(pan, &gl, &gr);
    SvfCoef co;
    for (long i = 0; i < n; ++i) {
        if (i % kControlStep == 0) co = SvfCoef::make(300 + bright * std::exp(-i / kRate / 0.05), 1.2);
        double y = f.lowpass(s.next(hz), co);
        duckBus->add(f0 + i, float(y * env[i] * vel * 0.13), gl, gr);
    }
}

// Chord stab: saws with a bright, quickly closing filter; the accents.
void stab(double ms, const int* notes, int count, float vel, double bright = 5000) {
    std::vector<float> env = Env{0.002, 0.18, 0.25, 0.25, 0.22}.curve();
    long f0 = frameOf(ms), n = long(env.size());
    for (int k = 0; k < count; ++k) {
        Saw s1, s2;
        s2.phase = 0.5;
        Svf f;
        double hz = noteHz(notes[k] + 12);
        float gl, gr;
        panGains(-0.75f + 1.5f * k / std::max(1, count - 1), &gl, &gr);
        SvfCoef co;
        for (long i = 0; i < n; ++i) {
            if (i % kControlStep == 0) co = SvfCoef::make(500 + bright * std::exp(-i / kRate / 0.09), 1.1);
            double x = 0.5 * (s1.next(hz * 1.004) + s2.next(hz * 0.996));
            double y = f.lowpass(float(x), co);
            float v = float(y * env[i] * vel * 0.16);
            tonalBus->add(f0 + i, v, gl, gr);
            reverbSend->add(f0 + i, v * 0.6f, gl, gr);
        }
    }
}

// Tom for fills: a sine that drops a fifth as it decays.
void tom(double ms, double note, float vel) {
    std::vector<float> env = Env{0.001, 0.12, 0.0, 0.04, 0.30}.curve();
    long f0 = frameOf(ms), n = long(env.size());
    double phase = 0, hz = noteHz(note);
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        phase += 2 * kPi * hz * (1 + 0.5 * std::exp(-t / 0.04)) / kRate;
        double e = env[i];
        float v = float(std::sin(phase) * e * vel * 0.5);
        tonalBus->add(f0 + i, v, 1, 1);
        reverbSend->add(f0 + i, v * 0.3f, 1, 1);
    }
}

// Rim: a short knock, a pitched click with a little band of noise; in the
// pitched bus, so it never touches the analysed bins.
void rim(double ms, float vel, float pan) {
    long f0 = frameOf(ms), n = long(0.07 * kRate);
    Noise noise(0x6B43A9u);
    Biquad bp;
    bp.bandpass(2100, 2.5);
    double phase = 0;
    float gl, gr;
    panGains(pan, &gl, &gr);
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        phase += 2 * kPi * 820 / kRate;
        double e = std::min(1.0, t / 0.0005) * std::exp(-t / 0.012) * std::min(1.0, (0.07 - t) / 0.01);
        float v = float((std::sin(phase) * 0.6 + bp.run(noise.next()) * 1.4) * e * vel * 0.3);
        tonalBus->add(f0 + i, v, gl, gr);
        reverbSend->add(f0 + i, v * 0.4f, gl, gr);
    }
}

// Shaker: a soft swish of high noise on the sixteenths, in the pitched bus.
void shaker(double ms, float vel, float pan) {
    long f0 = frameOf(ms), n = long(0.08 * kRate);
    Noise noise(0x51A3E7u + uint32_t(hatCount % 3));
    Biquad hp1, hp2;
    hp1.highpass(5000, 0.7071);
    hp2.highpass(5000, 0.7071);
    float gl, gr;
    panGains(pan, &gl, &gr);
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        double e = std::sin(kPi * std::min(1.0, t / 0.08)) * std::exp(-t / 0.03);
        tonalBus->add(f0 + i, float(hp2.run(hp1.run(noise.next())) * e * vel * 0.09), gl, gr);
    }
}

// Conga: a pitched skin with a quick bend, for the syncopations.
void conga(double ms, double note, float vel, float pan) {
    long f0 = frameOf(ms), n = long(0.25 * kRate);
    double phase = 0, hz = noteHz(note);
    float gl, gr;
    panGains(pan, &gl, &gr);
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        phase += 2 * kPi * hz * (1 + 0.15 * std::exp(-t / 0.015)) / kRate;
        double e = std::min(1.0, t / 0.001) * std::exp(-t / 0.07) * std::min(1.0, (0.25 - t) / 0.02);
        float v = float(std::sin(phase) * e * vel * 0.32);
        tonalBus->add(f0 + i, v, gl, gr);
        reverbSend->add(f0 + i, v * 0.3f, gl, gr);
    }
}

// Sweep: white noise through a band-pass rising from 400 Hz to 12 kHz, for
// the pre-drop; the notches keep it out of the analysed bins.
void sweep(double startMs, double endMs, float vel) {
    long f0 = frameOf(startMs), f1 = frameOf(endMs);
    Noise noise(nextSeed());
    Svf lo, hi;
    SvfCoef cl, ch;
    const double len = (f1 - f0) / kRate;
    for (long i = f0; i < f1; ++i) {
        const double u = (i - f0) / kRate / len;
        if ((i - f0) % kControlStep == 0) {
            const double hz = 400 * std::pow(30.0, u);
            cl = SvfCoef::make(hz * 1.5, 1.0);
            ch = SvfCoef::make(hz * 0.6, 1.0);
        }
        const float x = noise.next();
        const float l = lo.lowpass(x, cl);
        const float band = l - hi.lowpass(l, ch);
        const double e = std::pow(u, 1.3) * std::min(1.0, (f1 - i) / kRate / 0.01);
        const float v = float(band * e * vel * 0.35);
        // it drifts from the left towards the right as it rises
        tonalBus->add(i, v, float(1.0 - 0.4 * u), float(1.0 + 0.4 * u) * 0.8f);
        reverbSend->add(i, v * 0.5f, 1, 1);
    }
}

// Boom: a deep falling sine with a dark thump, for drops and the break.
void boom(double ms, float vel) {
    std::vector<float> env = Env{0.002, 0.6, 0.0, 0.3, 1.7}.curve();
    long f0 = frameOf(ms), n = long(env.size());
    double phase = 0;
    Noise noise(nextSeed());
    Biquad lp;
    lp.lowpass(600, 0.7);
    for (long i = 0; i < n; ++i) {
        double t = i / kRate;
        phase += 2 * kPi * (36 + 60 * std::exp(-t / 0.08)) / kRate;
        double e = env[i];
        double thump = lp.run(noise.next()) * std::exp(-t / 0.05) * std::min(1.0, t / 0.001);
        float v = float((std::sin(phase) * e + thump * 0.8) * vel * 0.8);
        tonalBus->add(f0 + i, v, 1, 1);
        reverbSend->add(f0 + i, v * 0.2f, 1, 1);
    }
}

// Riser: band-passed noise and a saw both sweeping up, swelling towards the
// landing; the notches keep it out of the analysed bins.
void riser(double startMs, double endMs, float vel) {
    long f0 = frameOf(startMs), f1 = frameOf(endMs);
    Noise noise(nextSeed());
    Svf bpLow, bpHigh;
    SvfCoef cLow, cHigh;
    Saw saw;
    double len = (f1 - f0) / kRate;
    for (long i = f0; i < f1; ++i) {
        double u = (i - f0) / kRate / len;  // 0..1
        if ((i - f0) % kControlStep == 0) {
            double hz = 300 * std::pow(8.0, u);
            cLow = SvfCoef::make(hz * 1.4, 1.2);
            cHigh = SvfCoef::make(hz * 0.7, 1.4);
        }
        float x = noise.next();
        float lo = bpLow.lowpass(x, cLow);
        float band = lo - bpHigh.lowpass(lo, cHigh);
        double s = saw.next(noteHz(45 + 24 * u)) * 0.25;
        double tail = (f1 - i) / kRate;
        double e = std::pow(u, 1.6) * std::min(1.0, tail / 0.012) * std::min(1.0, (i - f0) / kRate / 0.02);
        float v = float((band * 1.2 + s) * e * vel * 0.5);
        tonalBus->add(i, v, 1, 1);
        reverbSend->add(i, v * 0.4f, 1, 1);
    }
}

// ------------------------------------------------------------- harmony ---

struct Chord {
    int notes[4];
    int bass;
};

// A minor: Am7 - Fmaj7 - C - G.
constexpr Chord kProgA[4] = {{{57, 60, 64, 67}, 33}, {{53, 57, 60, 64}, 29},
                             {{55, 60, 64, 67}, 36}, {{55, 59, 62, 67}, 31}};
// A minor, falling to the dominant: Am - G - F - E.
constexpr Chord kProgB[4] = {{{57, 60, 64, 69}, 33}, {{55, 59, 62, 67}, 31},
                             {{53, 57, 60, 65}, 29}, {{52, 56, 59, 64}, 28}};
// D minor: Dm7 - Bbmaj7 - F - C.
constexpr Chord kProgC[4] = {{{53, 57, 60, 62}, 38}, {{53, 57, 58, 62}, 34},
                             {{53, 57, 60, 65}, 29}, {{52, 55, 60, 64}, 36}};

// One chord held: under the riser (E) and in the break (Am).
constexpr Chord kHoldE[4] = {{{52, 56, 59, 64}, 28}, {{52, 56, 59, 64}, 28},
                             {{52, 56, 59, 64}, 28}, {{52, 56, 59, 64}, 28}};
constexpr Chord kHoldAm[4] = {{{57, 60, 64, 69}, 33}, {{57, 60, 64, 69}, 33},
                              {{57, 60, 64, 69}, 33}, {{57, 60, 64, 69}, 33}};

// Lead phrases over one chord (two bars): (sixteenth, length, chord tone).
struct Step {
    int pos, len, tone;
};
const std::vector<Step> kMotifCall = {{0, 3, 2}, {3, 3, 3}, {6, 2, 4}, {8, 4, 3}, {12, 2, 2}, {14, 2, 1},
                                      {16, 6, 2}, {22, 2, 3}, {24, 4, 4}, {28, 3, 5}};
const std::vector<Step> kMotifAnswer = {{0, 2, 4}, {2, 2, 3}, {4, 4, 2}, {8, 2, 1}, {10, 2, 2},
                                        {12, 4, 3}, {16, 8, 2}, {26, 2, 1}, {28, 3, 0}};
const std::vector<Step> kMotifLong = {{0, 8, 2}, {8, 4, 3}, {12, 4, 4}, {16, 11, 3}, {28, 3, 1}};
const std::vector<Step> kMotifRun = {{0, 2, 4}, {2, 2, 5}, {4, 2, 6}, {6, 2, 5}, {8, 4, 4}, {12, 2, 3},
                                     {14, 2, 4}, {16, 6, 5}, {22, 2, 4}, {24, 4, 3}, {28, 3, 2}};

// Chord tone i counted upwards through the octaves.
int chordTone(const Chord& c, int i) { return c.notes[i % 4] + 12 * (i / 4); }

// ----------------------------------------------------------- arrangement ---

enum class BassStyle { None, Long, Offbeat, Gallop, Half };
enum class LeadStyle { None, CallAnswer, Long, Run };
// Four to the floor (kick on every beat, clap on 2 and 4) or half time
// (kick on 1 and the and-of-2, clap on 3). Hats stay on the eighths in both,
// so the picture pulses at the same rate.
enum class Groove { Four, Half };

// One stretch of the arrangement with its instrumentation.
struct Part {
    double startMs, endMs;
    double originMs;         // where bar 0 of this stretch's grid begins
    const Chord* prog;
    int barsPerChord;
    bool pads;
    double padCutoff;
    BassStyle bass;
    double bassCutoff;       // at the start; ramps to bassCutoffEnd
    double bassCutoffEnd;
    LeadStyle lead;
    int leadOctave;
    bool arpOn;
    double arpBright;
    bool kickOn, clapOn, hatsOn, openHats, bed;
    float padVel = 1.0f;
    float bassVel = 1.0f;
    Groove groove = Groove::Four;
    bool perc = false;   // rim, shaker and congas on top of the kit
    bool fills = true;   // a tom fill closing every 8-bar phrase
    bool leadUp = false; // the lead doubled an octave up
};

// The chord playing at t: the progression advances every barsPerChord bars
// counted from the part's bar origin.
const Chord& chordAt(const Part& p, double t) {
    long bar = floorDiv(long(t - p.originMs), kBarMs);
    long idx = floorDiv(bar, p.barsPerChord);
    return p.prog[((idx % 4) + 4) % 4];
}

// Whether t lies in the last beat of an 8-bar phrase of the part (phrases
// counted from the part's first downbeat) that ends inside the part and does
// not lead straight into a mark, which has its own fill.
bool fillAt(const Part& p, double t) {
    const double firstBar = std::ceil((p.startMs - p.originMs) / kBarMs) * kBarMs + p.originMs;
    const long bar = floorDiv(long(t - firstBar), kBarMs);
    if (bar < 0 || bar % 8 != 7) return false;
    const double phraseEnd = firstBar + (bar + 1) * double(kBarMs);
    if (t < phraseEnd - kBeatMs || phraseEnd > p.endMs) return false;
    for (int32_t m : kMarksMs)
        if (m >= phraseEnd - kBeatMs && m <= phraseEnd + kBarMs) return false;
    return true;
}

// Plays one part: pads per chord span, bass, lead, arpeggio and drums, each
// clipped to the part's span.
void playPart(const Part& p) {
    const double span = p.barsPerChord * double(kBarMs);
    // Pads: one chord per span, crossfading at the changes.
    if (p.pads) {
        double t = p.startMs;
        while (t < p.endMs - 1) {
            double chordStart = floorDiv(long(t - p.originMs), long(span)) * span + p.originMs;
            double end = std::min(p.endMs, chordStart + span);
            const Chord& c = chordAt(p, t);
            pad(t, (end - t) / 1000.0, c.notes, 4, p.padVel, p.padCutoff);
            t = end;
        }
    }
    // Everything on the sixteenth grid.
    for (double t = std::ceil(p.startMs / kSixteenthMs) * kSixteenthMs; t < p.endMs; t += kSixteenthMs) {
        long s16 = floorDiv(long(t - p.originMs), kSixteenthMs);
        int pos = int(((s16 % 16) + 16) % 16);       // in the bar
        int posChord = int(((s16 % (16 * p.barsPerChord)) + 16 * p.barsPerChord) % (16 * p.barsPerChord));
        long bar = floorDiv(s16, 16);
        const Chord& c = chordAt(p, t);
        double u = (t - p.startMs) / (p.endMs - p.startMs);
        double bassCut = p.bassCutoff + (p.bassCutoffEnd - p.bassCutoff) * u;
        double left = (p.endMs - t) / 1000.0;

        switch (p.bass) {
        case BassStyle::Long:
            if (pos == 0 || t == p.startMs) bass(t, std::min(1.55, left), c.bass, 0.9f * p.bassVel, bassCut, 300);
            break;
        case BassStyle::Offbeat:
            if (pos % 4 == 2) bass(t, std::min(0.17, left), c.bass + 12 * (pos == 14 && bar % 2), 1.0f, bassCut, 1400);
            if (pos % 8 == 7) bass(t, std::min(0.08, left), c.bass + 12, 0.6f, bassCut, 900);
            break;
        case BassStyle::Gallop:
            if (pos % 4 != 0) bass(t, std::min(0.08, left), c.bass + (pos % 4 == 3 ? 12 : 0), pos % 4 == 2 ? 1.0f : 0.75f, bassCut, 1200);
            break;
        case BassStyle::Half:
            if (pos == 0) bass(t, std::min(0.55, left), c.bass, 1.0f, bassCut, 800);
            if (pos == 6) bass(t, std::min(0.17, left), c.bass + 12, 0.8f, bassCut, 800);
            if (pos == 8) bass(t, std::min(0.75, left), c.bass, 0.9f, bassCut, 800);
            break;
        case BassStyle::None:
            break;
        }

        if (p.lead != LeadStyle::None) {
            long chordIdx = floorDiv(s16, 16 * p.barsPerChord);
            const std::vector<Step>* motif = &kMotifLong;
            if (p.lead == LeadStyle::CallAnswer) motif = (chordIdx % 2) ? &kMotifAnswer : &kMotifCall;
            if (p.lead == LeadStyle::Run) motif = (chordIdx % 2) ? &kMotifRun : &kMotifCall;
            for (const Step& st : *motif) {
                if (st.pos * p.barsPerChord / 2 != posChord) continue;
                double len = std::min(st.len * kSixteenthMs * p.barsPerChord / 2.0 - 20, p.endMs - t - 10) / 1000.0;
                if (len <= 0.03) continue;
                lead(t, len, chordTone(c, st.tone) + 12 * p.leadOctave, 1.0f);
                if (p.leadUp) lead(t, len, chordTone(c, st.tone) + 12 * p.leadOctave + 12, 0.55f);
            }
        }

        if (p.arpOn) {
            static const int kArpOrder[8] = {0, 1, 2, 3, 4, 3, 2, 1};
            int note = chordTone(c, kArpOrder[pos % 8] + (pos >= 8 ? 1 : 0)) + 12;
            arp(t, note, pos % 4 == 0 ? 1.0f : 0.75f, (pos % 2) ? 0.75f : -0.75f, p.arpBright);
        }

        bool onBeat = pos % 4 == 0, onEighth = pos % 2 == 0;
        const bool inFill = p.fills && fillAt(p, t);
        if (p.groove == Groove::Four) {
            if (p.kickOn && onBeat) kick(t, 1.0f);
            if (p.clapOn && (pos == 4 || pos == 12) && !inFill) clap(t, 0.9f);
        } else {
            if (p.kickOn && (pos == 0 || pos == 6)) kick(t, pos == 0 ? 1.0f : 0.85f);
            if (p.clapOn && pos == 8) clap(t, 0.95f);
        }
        if (p.perc && !inFill) {
            shaker(t, onEighth ? 0.6f : 1.0f, 0.55f);
            if (pos == 3 || pos == 11) rim(t, 0.8f, -0.6f);
            if (pos == 14 && bar % 2) rim(t, 0.6f, -0.6f);
            if (pos == 6 || pos == 10) conga(t, pos == 6 ? 62 : 57, 0.8f, 0.65f);
            if (pos == 7 && bar % 2 == 0) conga(t, 62, 0.6f, 0.65f);
        }
        if (inFill && pos >= 12) tom(t, 52 - 3 * (pos - 12), 0.75f + 0.05f * (pos - 12));
        if (p.hatsOn && onEighth) {
            if (p.openHats && pos % 4 == 2) openHat(t, 0.8f, 0.3f);
            else closedHat(t, pos % 4 == 0 ? 0.8f : 0.92f, -0.3f);
        }
    }
    if (p.bed) noiseBed(p.startMs, p.endMs, 1.0f);
}

// A snare run of sixteenths from fromMs, growing louder, whose last hit is
// at lastMs (the accent it leads into).
void snareFill(double fromMs, double lastMs) {
    int n = int(std::lround((lastMs - fromMs) / kSixteenthMs));
    for (int k = 0; k <= n; ++k) clap(fromMs + k * kSixteenthMs, 0.45f + 0.55f * k / std::max(1, n), true);
}

// Toms falling from high to low over the given sixteenths.
void tomFill(double fromMs, int count) {
    for (int k = 0; k < count; ++k) tom(fromMs + k * kSixteenthMs, 50 - 2 * k, 0.9f);
}

// The whole piece, in order.
void arrange() {
    const double o1 = kFirstBarMs, o2 = kSecondHalfMs;
    using B = BassStyle;
    using L = LeadStyle;
    using G = Groove;
    // Eight bars after the cube volume's drop, and sixteen.
    const double volumeRun = kVolumeMs + 8 * kBarMs, volumeThin = kVolumeMs + 16 * kBarMs;
    // start, end, origin, prog, bars/chord, pads, padCut, bass, cut0, cut1, lead, oct, arp, arpBright,
    // kick, clap, hats, open, bed, padVel, bassVel, groove, perc, fills, leadUp
    const Part parts[] = {
        // Quiet intro: dark pads, a low bass drone from the second phrase, a
        // muted arpeggio later on; no drums.
        {0, kDrumsInMs, o1, kProgA, 2, true, 700, B::None, 0, 0, L::None, 0, false, 0, false, false, false, false, false, 1.3f},
        {10000, kDrumsInMs, o1, kProgA, 2, false, 0, B::Long, 250, 350, L::None, 0, false, 0, false, false, false, false, false, 1.0f, 0.45f},
        {12400, kDrumsInMs, o1, kProgA, 2, false, 0, B::None, 0, 0, L::None, 0, true, 700, false, false, false, false, false},
        // Drums in: kick and hats, galloping bass opening up.
        {kDrumsInMs, kFirstSectionMs, o1, kProgA, 2, true, 1000, B::Gallop, 250, 900, L::None, 0, true, 1200, true, false, true, false, true, 1.0f, 1.0f, G::Four, false, false},
        {21200, 24400, o1, kProgA, 2, false, 0, B::None, 0, 0, L::None, 0, false, 0, false, true, false, false, false, 1.0f, 1.0f, G::Four, false, false},
        // First full section.
        {kFirstSectionMs, kChessInMs, o1, kProgA, 2, true, 1300, B::Offbeat, 700, 900, L::CallAnswer, 0, false, 0, true, true, true, true, true},
        // Chessboard: kick and hats under the stabs.
        {kChessInMs, kSecondSectionMs, o1, kProgA, 2, false, 0, B::Long, 600, 600, L::None, 0, false, 0, true, true, true, true, true, 1.0f, 1.0f, G::Four, false, false},
        // Second section: falling progression, arpeggio in front, percussion.
        {kSecondSectionMs, kRiserMs, o1, kProgB, 2, true, 1200, B::Gallop, 600, 1000, L::None, 0, true, 2200, true, true, true, true, true, 1.0f, 1.0f, G::Four, true},
        // Riser: pads only under the sweep.
        {kRiserMs, kLandingMs, o1, kHoldE, 2, true, 1500, B::None, 0, 0, L::None, 0, false, 0, false, false, false, false, false},
        // Landing.
        {kLandingMs, kPreDropMs, o1, kProgB, 2, true, 1300, B::Offbeat, 800, 900, L::CallAnswer, 0, true, 1500, true, true, true, true, true},
        // Pre-drop: kick, bass and clap out; pads open up over the riser.
        {kPreDropMs, kVolumeMs, o1, kHoldE, 2, true, 2400, B::None, 0, 0, L::None, 0, true, 2600, false, false, true, false, true, 1.2f},
        // Cube volume: the drop, the main theme, then the runs with the arpeggio.
        {kVolumeMs, volumeRun, o1, kProgA, 2, true, 1400, B::Offbeat, 800, 800, L::CallAnswer, 0, false, 0, true, true, true, true, true, 1.0f, 1.0f, G::Four, true},
        {volumeRun, volumeThin, o1, kProgA, 2, true, 1500, B::Gallop, 700, 1100, L::Run, 0, true, 2000, true, true, true, true, true, 1.0f, 1.0f, G::Four, true},
        {volumeThin, kBreakMs - 200, o1, kProgA, 2, true, 1100, B::Offbeat, 900, 500, L::None, 0, true, 1500, true, true, true, false, true},
        // The break: a dark chord and nothing bright.
        {kBreakMs, kReturnMs, o1, kHoldAm, 2, true, 600, B::None, 0, 0, L::None, 0, false, 0, false, false, false, false, false},
        // Return: kick, bass and hats first, everything from the full drums.
        {kReturnMs, kFullDrumsMs, o2, kProgA, 2, true, 900, B::Gallop, 500, 900, L::None, 0, false, 0, true, false, true, false, true, 1.0f, 1.0f, G::Four, false, false},
        {kFullDrumsMs, 105400, o2, kProgA, 2, true, 1400, B::Offbeat, 800, 800, L::CallAnswer, 0, false, 0, true, true, true, true, true},
        {105400, 118200, o2, kProgA, 2, true, 1300, B::Gallop, 700, 1000, L::None, 0, true, 2400, true, true, true, true, true, 1.0f, 1.0f, G::Four, true},
        // The brush seeds the lattice slowly: half time.
        {118200, 124600, o2, kProgA, 2, true, 900, B::Long, 400, 400, L::None, 0, false, 0, true, true, true, false, true, 1.0f, 1.0f, G::Half},
        {124600, kHalftoneMs, o2, kProgA, 2, true, 1500, B::Offbeat, 900, 1000, L::Run, 0, true, 1800, true, true, true, true, true, 1.0f, 1.0f, G::Four, true},
        // Halftone breakdown: D minor, pads and the long lead in a longer
        // room, soft hats; no kick, bass or clap.
        {kHalftoneMs, kBreakdownEndMs, o2, kProgC, 2, true, 1500, B::None, 0, 0, L::Long, 0, false, 0, false, false, true, false, true, 1.2f, 1.0f, G::Four, false, false},
        // The build: one bar, kick back on the beat, the arpeggio and a snare
        // run under a riser.
        {kBreakdownEndMs, kHalftoneDropMs, o2, kProgC, 2, true, 1800, B::None, 0, 0, L::None, 0, true, 2600, true, false, true, false, true, 1.2f, 1.0f, G::Four, false, false},
        // The drop: everything, half-time bass, percussion.
        {kHalftoneDropMs, kHalftoneSecondMs, o2, kProgC, 2, true, 1400, B::Half, 600, 900, L::Long, 0, true, 2000, true, true, true, true, true, 1.0f, 1.0f, G::Four, true},
        // Second halftone part: half time while the camera holds, then full.
        {kHalftoneSecondMs, kHalftoneWideMs, o2, kProgC, 2, true, 1300, B::Gallop, 700, 900, L::None, 0, true, 2200, true, true, true, true, true, 1.0f, 1.0f, G::Half},
        {kHalftoneWideMs, kFollowLightMs, o2, kProgC, 2, true, 1400, B::Offbeat, 800, 900, L::Run, 0, true, 1400, true, true, true, true, true, 1.0f, 1.0f, G::Four, true},
        {kFollowLightMs, kFloorMs, o2, kProgC, 2, true, 1500, B::Gallop, 800, 1100, L::CallAnswer, 0, true, 2400, true, true, true, true, true},
        // Floor, the climax: the main theme back in A minor, the lead doubled
        // an octave up, the bright arpeggio, the whole kit.
        {kFloorMs, kClosingMs, o2, kProgA, 2, true, 1800, B::Offbeat, 1000, 1100, L::CallAnswer, 0, true, 3000, true, true, true, true, true, 1.1f, 1.1f, G::Four, true, true, true},
        // Closing: the band thins out as the bars close.
        {kClosingMs, kEndCardMs, o2, kProgA, 2, true, 1000, B::Long, 500, 400, L::None, 0, false, 0, true, false, true, false, true, 1.0f, 1.0f, G::Four, false, false},
    };
    for (const Part& p : parts) playPart(p);

    // Intro swell into the drums.
    riser(kDrumsInMs - 2800, kDrumsInMs, 0.45f);

    // Accents on the picture's marks.
    const Chord& am = kProgA[0];
    crash(kDrumsInMs, 1.0f);
    snareFill(kFirstSectionMs - 1300, kFirstSectionMs);
    crash(kFirstSectionMs, 1.0f);
    stab(kFirstSectionMs, am.notes, 4, 1.0f);
    // Chessboard frames: four stabs climbing through the progression.
    for (int k = 0; k < 4; ++k) {
        stab(kChessMs[k], kProgA[k].notes, 4, 0.95f);
        kick(kChessMs[k], 0.9f);
        tom(kChessMs[k], 45 - 3 * k, 0.8f);
    }
    crash(kChessMs[3], 0.8f);  // the last frame, the loudest
    tomFill(kSecondSectionMs - 600, 6);
    snareFill(kSecondSectionMs - 300, kSecondSectionMs);
    crash(kSecondSectionMs, 1.0f);
    stab(kSecondSectionMs, kProgB[0].notes, 4, 0.9f);
    // Riser from the snare hit at the riser mark to the landing.
    snareFill(kRiserMs - 600, kRiserMs);
    stab(kRiserMs, kProgB[3].notes, 4, 1.0f);
    riser(kRiserMs, kLandingMs, 1.0f);
    for (double t = kRiserMs + 200; t < kLandingMs; t += 200) clap(t, 0.35f + 0.4f * float((t - kRiserMs - 200) / 1000), true);
    crash(kLandingMs, 1.0f);
    kick(kLandingMs, 1.0f);
    boom(kLandingMs, 0.6f);
    // The pre-drop: a riser and a noise sweep, a snare run, then the drop.
    riser(kPreDropMs, kVolumeMs, 0.9f);
    sweep(kPreDropMs, kVolumeMs - 100, 1.0f);
    snareFill(kVolumeMs - 1600, kVolumeMs - 100);
    crash(kVolumeMs, 1.0f);
    boom(kVolumeMs, 0.9f);
    stab(kVolumeMs, am.notes, 4, 1.0f);
    // Into the break: a fill, then one deep hit and a dark stab.
    snareFill(kBreakMs - 800, kBreakMs - 200);
    boom(kBreakMs, 1.0f);
    stab(kBreakMs, am.notes, 4, 0.9f, 900);
    crash(kReturnMs, 1.0f);
    snareFill(kFullDrumsMs - 400, kFullDrumsMs - 100);
    crash(kFullDrumsMs, 1.0f);
    snareFill(kHalftoneMs - 800, kHalftoneMs - 100);
    crash(kHalftoneMs, 1.0f);
    crash(kHalftoneMeshMs, 0.8f);
    stab(kHalftoneMeshMs, kProgC[1].notes, 4, 0.7f, 1800);
    // Pushes on the eighth before the downbeat.
    for (int32_t m : {kHalftoneCameraMs, kHalftoneChangeMs, kHalftoneTurnMs[1]}) {
        crash(m, 0.9f);
        stab(m, kProgC[0].notes, 4, 1.0f);
    }
    // The build into the halftone drop.
    riser(kBreakdownEndMs, kHalftoneChangeMs, 0.9f);
    snareFill(kBreakdownEndMs, kHalftoneChangeMs - 100);
    boom(kHalftoneDropMs, 0.9f);
    stab(kHalftoneTurnMs[0], kProgC[2].notes, 4, 1.0f);
    openHat(kHalftoneTurnMs[0], 0.9f, 0.3f);
    snareFill(kHalftoneSecondMs - 600, kHalftoneSecondMs - 100);
    crash(kHalftoneSecondMs, 1.0f);
    crash(kHalftoneWideMs, 1.0f);
    tomFill(kFollowLightMs - 600, 6);
    crash(kFollowLightMs, 1.0f);
    stab(kFollowLightMs, kProgC[0].notes, 4, 1.0f);
    snareFill(kFloorMs - 800, kFloorMs - 100);
    crash(kFloorMs, 1.0f);
    stab(kFloorMs, kProgA[0].notes, 4, 1.0f);
    boom(kFloorMs, 0.8f);
    crash(kClosingMs, 1.0f);
    // End card: the last chord rings out and fades before the picture ends.
    snareFill(kEndCardMs - 600, kEndCardMs - 100);
    crash(kEndCardMs, 1.0f);
    stab(kEndCardMs, am.notes, 4, 1.0f);
    boom(kEndCardMs, 0.8f);
    static const int kFinal[4] = {45, 57, 64, 71};
    pad(kEndCardMs, 8.6, kFinal, 4, 1.4f, 900, 2.8);
    pad(kEndCardMs, 8.6, kProgA[0].notes, 4, 1.0f, 1100, 2.2);
}

// ------------------------------------------------------------- effects ---

// Ping-pong echo on the lead, three sixteenths apart, darker each repeat.
void leadEcho(Bus& out) {
    const long d = 3 * kSixteenthMs * 441 / 10;
    std::vector<float> dl(d, 0.0f), dr(d, 0.0f);  // rings of one delay
    Biquad lpl, lpr;
    lpl.lowpass(2500, 0.7);
    lpr.lowpass(2500, 0.7);
    for (long i = 0; i < totalFrames; ++i) {
        float xl = leadBus->l[i], xr = leadBus->r[i], x = 0.5f * (xl + xr);
        long k = i % d;
        float fromR = dr[k], fromL = dl[k];
        dl[k] = x + lpl.run(fromR * 0.42f);
        dr[k] = lpr.run(fromL);
        float wetL = fromR * 0.45f, wetR = fromL * 0.45f;
        out.l[i] += xl + wetL;
        out.r[i] += xr + wetR;
        reverbSend->l[i] += x * 0.3f;
        reverbSend->r[i] += x * 0.3f;
    }
}

// A small room: four damped combs and two all-passes per side; the combs'
// feedback follows the arc (feedback per frame), so the tail can grow.
void room(const Bus& in, Bus& out, float wet, const std::vector<float>& feedback) {
    const int combs[2][4] = {{1557, 1617, 1491, 1422}, {1580, 1640, 1514, 1445}};
    const int allp[2][2] = {{556, 441}, {579, 464}};
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<float>& x = ch ? in.r : in.l;
        std::vector<float>& y = ch ? out.r : out.l;
        std::vector<std::vector<float>> cb(4), ab(2);
        int ci[4] = {0, 0, 0, 0}, ai[2] = {0, 0};
        float damp[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4; ++k) cb[k].assign(combs[ch][k], 0.0f);
        for (int k = 0; k < 2; ++k) ab[k].assign(allp[ch][k], 0.0f);
        for (long i = 0; i < totalFrames; ++i) {
            float s = 0;
            float input = x[i] * 0.25f;
            for (int k = 0; k < 4; ++k) {
                float o = cb[k][ci[k]];
                damp[k] = o * 0.6f + damp[k] * 0.4f;
                cb[k][ci[k]] = input + damp[k] * feedback[size_t(i)];
                if (++ci[k] == int(cb[k].size())) ci[k] = 0;
                s += o;
            }
            for (int k = 0; k < 2; ++k) {
                float b = ab[k][ai[k]];
                float o = -s + b;
                ab[k][ai[k]] = s + b * 0.5f;
                if (++ai[k] == int(ab[k].size())) ai[k] = 0;
                s = o;
            }
            y[i] += s * wet;
        }
    }
}

// True-peak limiter with a short look-ahead. The peaks it holds under the
// ceiling are those of the signal four times oversampled (windowed-sinc
// interpolation), so the peaks between samples that a decoder or a
// converter would reconstruct stay under it too. The gain reaches each
// peak's reduction before the peak arrives (minimum over the look-ahead,
// then a box average no larger than it) and recovers slowly.
void limit(std::vector<float>& pcm, float ceiling) {
    const long n = long(pcm.size() / 2), look = 128;
    constexpr int kPhases = 4, kTaps = 16;
    // Interpolation kernels for the three in-between phases (Hann-windowed sinc).
    float kernel[kPhases][kTaps];
    for (int ph = 1; ph < kPhases; ++ph)
        for (int k = 0; k < kTaps; ++k) {
            const double x = (k - kTaps / 2 + 1) - double(ph) / kPhases;  // distance to the sample
            const double w = 0.5 + 0.5 * std::cos(kPi * x / (kTaps / 2));
            kernel[ph][k] = float((x == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x)) * w);
        }
    // No interpolated value can exceed the largest sample under the kernel
    // times the kernel's absolute sum: where that stays under the ceiling,
    // the interpolation cannot change the requirement and is skipped.
    float reach = 0;
    for (int ph = 1; ph < kPhases; ++ph) {
        float sum = 0;
        for (float k : kernel[ph]) sum += std::fabs(k);
        reach = std::max(reach, sum);
    }
    std::vector<float> req(n);
    for (long i = 0; i < n; ++i) {
        float p = std::max(std::fabs(pcm[2 * i]), std::fabs(pcm[2 * i + 1]));
        float nearby = 0;
        if (i >= kTaps / 2 && i + kTaps / 2 < n)
            for (long j = 2 * (i - kTaps / 2 + 1); j < 2 * (i + kTaps / 2 + 1); ++j) nearby = std::max(nearby, std::fabs(pcm[j]));
        if (nearby * reach > ceiling)
            for (int ch = 0; ch < 2; ++ch)
                for (int ph = 1; ph < kPhases; ++ph) {
                    float v = 0;
                    const float* x = &pcm[2 * (i - kTaps / 2 + 1) + ch];
                    for (int k = 0; k < kTaps; ++k) v += kernel[ph][k] * x[2 * k];
                    p = std::max(p, std::fabs(v));
                }
        req[i] = p > ceiling ? ceiling / p : 1.0f;
    }
    // Minimum over the look-ahead window [i, i + look].
    // (a monotonic queue, run backwards; m overwrites req behind the scan)
    std::vector<float>& m = req;
    std::vector<float> qv(n);
    std::vector<int32_t> qi(n);
    long head = 0, tail = 0;
    for (long i = n - 1; i >= 0; --i) {
        while (tail > head && qv[tail - 1] >= req[i]) --tail;
        qv[tail] = req[i];
        qi[tail++] = int32_t(i);
        while (qi[head] > i + look) ++head;
        m[i] = qv[head];
    }
    std::vector<float>().swap(qv);
    std::vector<int32_t>().swap(qi);
    // Box-average over the window before: never above the requirement.
    double sum = 0;
    float g = 1.0f;
    for (long i = 0; i < n; ++i) {
        sum += m[i];
        if (i > look) sum -= m[i - look - 1];
        float avg = float(sum / std::min(i + 1, look + 1));
        g = std::min(avg, g + (1.0f - g) * 0.0002f);
        pcm[2 * i] *= g;
        pcm[2 * i + 1] *= g;
    }
}

}  // namespace

// The limiter's ceiling (true peak, linear): a little under -1 dBTP, so the
// codec's own overshoot stays under it too.
constexpr float kCeiling = 0.79f;

// Renders every part and accent into the buses, then mixes: pumped bass and
// pads, echo, room, the arc's level and the notches on everything pitched,
// the bright bus on top, the master filters and the true-peak limiter.
std::vector<float> renderPiece(long* frames) {
    totalFrames = long(kLengthMs) * kSampleRate / 1000;
    seedCounter = kFirstSeed;  // every render is the same piece
    hatCount = 0;
    Bus tonal(totalFrames), send(totalFrames), bright(totalFrames);
    std::vector<float> out;
    {
        Bus duck(totalFrames), leadB(totalFrames);
        std::vector<float> curve(totalFrames, 1.0f);
        duckBus = &duck; tonalBus = &tonal; reverbSend = &send; leadBus = &leadB; brightBus = &bright;
        duckCurve = &curve;
        arrange();
        for (long i = 0; i < totalFrames; ++i) {
            tonal.l[i] += duck.l[i] * curve[i];
            tonal.r[i] += duck.r[i] * curve[i];
        }
        std::vector<float>().swap(duck.l);
        std::vector<float>().swap(duck.r);
        std::vector<float>().swap(curve);
        leadEcho(tonal);
    }
    room(send, tonal, 1.0f, arcCurve(totalFrames, [](const Arc& a) { return a.roomFeedback; }));
    std::vector<float>().swap(send.l);
    std::vector<float>().swap(send.r);

    // The pitched bus: its level along the arc, a gentle low-pass at 15 kHz
    // (second order, only the very top), and the notches that keep it out of
    // the analysed bins. The bright bus, the only source of those bins, goes
    // on top untouched.
    const std::vector<float> level = arcCurve(totalFrames, [](const Arc& a) { return a.tonal; });
    Biquad lpl, lpr;
    lpl.lowpass(15000, 0.7071);
    lpr.lowpass(15000, 0.7071);
    BinNotches nl, nr;
    out.resize(size_t(totalFrames) * 2);
    const float tonalGain = 0.45f, brightGain = 0.55f;
    for (long i = 0; i < totalFrames; ++i) {
        const float g = level[size_t(i)] * tonalGain;
        out[2 * i] = nl.run(lpl.run(tonal.l[i] * g)) + bright.l[i] * brightGain;
        out[2 * i + 1] = nr.run(lpr.run(tonal.r[i] * g)) + bright.r[i] * brightGain;
    }
    std::vector<float>().swap(tonal.l);
    std::vector<float>().swap(tonal.r);
    std::vector<float>().swap(bright.l);
    std::vector<float>().swap(bright.r);
    // Master: everything below 120 Hz in the middle (the side high-passed,
    // fourth order), and a high-pass at 25 Hz that takes out rumble and DC.
    Biquad side[2], rumbleL[2], rumbleR[2];
    for (auto& b : side) b.highpass(120, 0.7071);
    for (auto* r : {rumbleL, rumbleR}) {
        r[0].highpass(25, 0.5412);
        r[1].highpass(25, 1.3066);
    }
    for (long i = 0; i < totalFrames; ++i) {
        const float m = 0.5f * (out[2 * i] + out[2 * i + 1]);
        const float sd = side[1].run(side[0].run(0.5f * (out[2 * i] - out[2 * i + 1])));
        out[2 * i] = rumbleL[1].run(rumbleL[0].run(m + sd));
        out[2 * i + 1] = rumbleR[1].run(rumbleR[0].run(m - sd));
    }
    limit(out, kCeiling);
    // The piece rises out of silence over its first three seconds.
    const long fadeIn = 3 * kSampleRate;
    for (long i = 0; i < fadeIn; ++i) {
        float g = float(0.5 - 0.5 * std::cos(kPi * i / double(fadeIn)));
        out[2 * i] *= g;
        out[2 * i + 1] *= g;
    }
    // Nothing after the end card: the last frames are exact silence.
    long endFade = frameOf(kPictureEndMs - 500), endZero = frameOf(kPictureEndMs);
    for (long i = endFade; i < totalFrames; ++i) {
        float g = i >= endZero ? 0.0f : float(0.5 + 0.5 * std::cos(kPi * (i - endFade) / double(endZero - endFade)));
        out[2 * i] *= g;
        out[2 * i + 1] *= g;
    }
    *frames = totalFrames;
    return out;
}

}  // namespace soundtrack
