// The soundtrack's measuring code, on signals whose answers are known: if it
// drifted, the calibration tests on the real piece would measure the wrong
// thing. (The composer's envelopes are judged by those tests on the piece
// itself; its noise must repeat for a build to give the same piece, and its
// notches must keep pitched sound out of the bins the picture reads.)
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "loudness.h"
#include "soundcheck.h"
#include "synth.h"

namespace {

TEST(ComposerNoise, RepeatsForASeedAndStaysInRange) {
    synth::Noise a(42), b(42), c(43);
    double sum = 0;
    int differs = 0;
    for (int i = 0; i < 100000; ++i) {
        const float x = a.next();
        ASSERT_EQ(x, b.next());
        ASSERT_TRUE(x >= -1.0f && x < 1.0f) << x;
        differs += x != c.next();
        sum += x;
    }
    EXPECT_GT(differs, 0);
    EXPECT_NEAR(sum / 100000, 0.0, 0.01);
}

// Level (dB) of a sine at hz after the filter, once it has settled.
template <class Filter>
double sineGainDb(Filter& f, double hz) {
    double in = 0, out = 0;
    for (long i = 0; i < 44100; ++i) {
        const double x = std::sin(2 * synth::kPi * hz * i / synth::kRate);
        const double y = f.run(float(x));
        if (i < 22050) continue;
        in += x * x;
        out += y * y;
    }
    return 10 * std::log10(out / in + 1e-30);
}

TEST(ComposerNotches, DeepAtTheAnalysedBinsAndTransparentAwayFromThem) {
    // At least 40 dB down within 250 Hz of each bin.
    for (double centre : synth::kBinHz)
        for (double offset : {-250.0, -160.0, -75.0, 0.0, 40.0, 120.0, 250.0}) {
            synth::BinNotches n;
            EXPECT_LE(sineGainDb(n, centre + offset), -40.0) << centre << " + " << offset;
        }
    // The pitched instruments keep their body and their air.
    const struct {
        double hz, minDb;
    } open[] = {{100, -0.1}, {1000, -0.2}, {2500, -1.0}, {8500, -3.0}, {15000, -1.0}};
    for (const auto& o : open) {
        synth::BinNotches n;
        EXPECT_GE(sineGainDb(n, o.hz), o.minDb) << o.hz << " Hz";
    }
}

// Stereo 44.1 kHz with a function of the frame for each channel.
template <class Fn>
std::vector<int16_t> stereo(double seconds, Fn fn) {
    std::vector<int16_t> pcm(size_t(seconds * 44100) * 2);
    for (size_t f = 0; f < pcm.size() / 2; ++f) {
        const auto [l, r] = fn(long(f));
        pcm[2 * f] = int16_t(std::lround(l * 32767));
        pcm[2 * f + 1] = int16_t(std::lround(r * 32767));
    }
    return pcm;
}

TEST(SoundcheckLoudness, MetersKnownSignals) {
    // A 1 kHz sine peaking at -20 dBFS in both channels reads -20 LUFS, with
    // no loudness range; short-term loudness is defined once 3 s are heard.
    const double a = std::pow(10.0, -20 / 20.0);
    auto tone = stereo(10, [a](long f) {
        const double v = a * std::sin(2 * synth::kPi * 1000 * f / 44100.0);
        return std::pair{v, v};
    });
    soundcheck::Loudness l;
    ASSERT_TRUE(soundcheck::measureLoudness(tone, &l));
    EXPECT_NEAR(l.integrated, -20.0, 0.1);
    EXPECT_NEAR(l.range, 0.0, 0.1);
    EXPECT_EQ(l.shortTerm.size(), 100u);
    EXPECT_NEAR(soundcheck::shortTermAt(l, 5000), -20.0, 0.1);
    EXPECT_EQ(soundcheck::shortTermAt(l, 50), -70.0) << "before the first step";
    EXPECT_EQ(soundcheck::shortTermIn(l, 2000, 3000).size(), 10u);

    // The true peak lies between the samples: a quarter-rate sine sampled
    // 45 degrees off its crests never shows its peak in a sample.
    auto between = stereo(2, [](long f) {
        const double v = 0.5 * std::sin(synth::kPi / 2 * f + synth::kPi / 4);
        return std::pair{v, v};
    });
    ASSERT_TRUE(soundcheck::measureLoudness(between, &l));
    EXPECT_LT(20 * std::log10(soundcheck::peakLevel(between)), -8.9);
    EXPECT_NEAR(l.truePeak, -6.0, 0.3);
}

TEST(SoundcheckLoudness, WidthAndDc) {
    synth::Noise n(11), m(12);
    const auto mono = stereo(1, [&](long) {
        const double v = 0.3 * n.next();
        return std::pair{v, v};
    });
    const auto apart = stereo(1, [&](long) { return std::pair{0.3 * n.next(), 0.3 * m.next()}; });
    const auto offset = stereo(1, [&](long) { return std::pair{0.01 + 0.3 * n.next(), 0.3 * m.next()}; });
    EXPECT_LT(soundcheck::stereoWidth(mono, 0, 1000).sideOverMidDb, -60.0);
    EXPECT_NEAR(soundcheck::stereoWidth(mono, 0, 1000).correlation, 1.0, 1e-6);
    EXPECT_NEAR(soundcheck::stereoWidth(apart, 0, 1000).sideOverMidDb, 0.0, 0.3);
    EXPECT_NEAR(soundcheck::stereoWidth(apart, 0, 1000).correlation, 0.0, 0.03);
    // A span past the end measures what there is, not beyond it.
    EXPECT_NEAR(soundcheck::stereoWidth(apart, 500, 5000).correlation, 0.0, 0.05);
    EXPECT_NEAR(soundcheck::dcLevelDb(offset), -40.0, 0.5);
    EXPECT_LT(soundcheck::dcLevelDb(apart), -50.0);
}

TEST(SoundcheckStats, QuantileIsTheNearestRank) {
    const struct {
        std::vector<float> values;
        double q;
        float want;
    } cases[] = {
        {{}, 0.5, 0.0f},
        {{3}, 0.95, 3.0f},
        {{5, 1, 4, 2, 3}, 0.5, 3.0f},
        {{5, 1, 4, 2, 3}, 0.0, 1.0f},
        {{5, 1, 4, 2, 3}, 1.0, 5.0f},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 0.95, 19.0f},
    };
    for (const auto& c : cases) EXPECT_EQ(soundcheck::quantile(c.values, c.q), c.want);
}

TEST(SoundcheckStats, HitRatioComparesHitsWithTheQuietBetween) {
    // A 60 fps series where every eighth note (200 ms) lights up the first
    // 34 ms after it; in between a floor of a fifth of that.
    soundcheck::BandSeries s;
    for (long k = 0; k * 1000 / 60 < 10000; ++k) {
        int32_t ms = int32_t(k * 1000 / 60);
        bool hit = ms % 200 < 34 && ms % 200 > 0;
        float v = hit ? 0.02f : 0.004f;
        s.ms.push_back(ms);
        s.bands.push_back({v, v / 2, v / 4});
    }
    soundcheck::SectionStats st = soundcheck::sectionStats(s, 2000, 8000, true);
    EXPECT_EQ(st.frames, 360);
    for (int b = 0; b < 3; ++b) EXPECT_NEAR(st.hitRatio[b], 5.0f, 1e-4) << b;
    EXPECT_FLOAT_EQ(st.median[0], 0.004f);
    EXPECT_FLOAT_EQ(st.p95[0], 0.02f);
    // Without drums no ratio is claimed.
    EXPECT_EQ(soundcheck::sectionStats(s, 2000, 8000, false).hitRatio[0], 0.0f);
}

TEST(SoundcheckOnsets, FindsABurstToTheMillisecond) {
    // Quiet noise, then from 1003 ms a burst 20 dB louder.
    std::vector<int16_t> pcm(2 * 2 * 44100);
    synth::Noise n(7);
    for (long f = 0; f < 2 * 44100; ++f) {
        double level = f >= 1003 * 441 / 10 ? 0.3 : 0.03;
        pcm[2 * f] = pcm[2 * f + 1] = int16_t(std::lround(level * n.next() * 32767));
    }
    soundcheck::Onset o = soundcheck::onsetNear(pcm, 1000);
    EXPECT_NEAR(o.ms, 1003, 1);
    EXPECT_GT(o.strength, 50);
    // Steady noise never reaches the 6 dB an accent must show (its best
    // 10 ms against its 30 ms before stays below a ratio of 4).
    std::vector<int16_t> steady(2 * 2 * 44100);
    for (long f = 0; f < 2 * 44100; ++f) steady[2 * f] = steady[2 * f + 1] = int16_t(std::lround(0.3 * n.next() * 32767));
    EXPECT_LT(soundcheck::onsetNear(steady, 1000).strength, 4.0);
}

}  // namespace
