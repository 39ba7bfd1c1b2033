// The composer's building blocks and the soundtrack's measuring code, on
// signals whose answers are known: if these drift, the calibration tests on
// the real piece would measure the wrong thing.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "soundcheck.h"
#include "synth.h"

namespace {

// Steady-state RMS gain of a filter for a sine at hz (after settling).
template <class Filter>
double sineGain(Filter& f, double hz) {
    double in = 0, out = 0;
    for (long i = 0; i < 44100; ++i) {
        float x = float(std::sin(2 * M_PI * hz * i / 44100.0));
        float y = f.run(x);
        if (i >= 22050) {
            in += double(x) * x;
            out += double(y) * y;
        }
    }
    return std::sqrt(out / in);
}

TEST(ComposerFilters, SteepLowpassKeepsTheAnalysedBinsFreeOfPitchedSounds) {
    const struct {
        double hz, minDb, maxDb;
    } cases[] = {
        {200, -0.5, 0.5},       // bass and pads pass
        {1500, -0.5, 0.5},
        {4306.6, -200, -28},    // bin 100
        {6459.9, -200, -55},    // bin 150
        {10766.6, -200, -80},   // bin 250
    };
    for (const auto& c : cases) {
        synth::SteepLowpass lp;
        lp.set(2800);
        double db = 20 * std::log10(sineGain(lp, c.hz));
        EXPECT_GE(db, c.minDb) << c.hz << " Hz";
        EXPECT_LE(db, c.maxDb) << c.hz << " Hz";
    }
}

TEST(ComposerFilters, BandpassIsUnityAtItsCentre) {
    for (double hz : {4306.6, 6459.9, 10766.6}) {
        synth::Biquad bp;
        bp.bandpass(hz, 2.2);
        EXPECT_NEAR(sineGain(bp, hz), 1.0, 0.01) << hz;
        synth::Biquad off;
        off.bandpass(hz, 2.2);
        EXPECT_LT(sineGain(off, hz * 1.5), 0.5) << "a neighbouring bin is attenuated";
    }
}

TEST(ComposerEnvelope, StartsAndEndsAtZeroWithoutSteps) {
    const synth::Env envs[] = {
        {0.002, 0.09, 0.0, 0.04, 0.09},   // pluck
        {0.35, 1.0, 1.0, 0.9, 3.2},       // pad
        {0.006, 0.35, 0.55, 0.09, 0.003}, // gate shorter than the attack
    };
    for (const auto& e : envs) {
        std::vector<float> c = e.curve();
        ASSERT_FALSE(c.empty());
        EXPECT_EQ(c.front(), 0.0f);
        EXPECT_LT(c.back(), 1e-3f);
        EXPECT_EQ(e.at(e.total()), 0.0);
        EXPECT_EQ(e.at(-0.001), 0.0);
        float maxStep = 0, peak = 0;
        for (size_t i = 1; i < c.size(); ++i) {
            maxStep = std::max(maxStep, std::fabs(c[i] - c[i - 1]));
            peak = std::max(peak, c[i]);
        }
        // The steepest edge here is a 2 ms raised cosine: no sample-to-sample
        // jump larger than about 2 % of the peak.
        EXPECT_LT(maxStep, 0.02f * std::max(peak, 1e-6f) + 1e-6f);
        for (size_t i = 0; i < c.size(); i += 997) EXPECT_NEAR(c[i], e.at(i / 44100.0), 0.01);
    }
}

TEST(ComposerNoise, RepeatsForASeedAndStaysInRange) {
    synth::Noise a(42), b(42), c(43);
    double sum = 0;
    bool differs = false;
    for (int i = 0; i < 100000; ++i) {
        float x = a.next();
        ASSERT_EQ(x, b.next());
        if (x != c.next()) differs = true;
        ASSERT_GE(x, -1.0f);
        ASSERT_LT(x, 1.0f);
        sum += x;
    }
    EXPECT_TRUE(differs);
    EXPECT_NEAR(sum / 100000, 0.0, 0.01);
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

TEST(SoundcheckSpectrum, BandsFromSamplesSeeASineOnItsBin) {
    // A bin-100 sine of amplitude 0.5 from 500 ms on.
    std::vector<int16_t> pcm(2 * 44100);
    for (long f = 22050; f < 44100; ++f)
        pcm[2 * f] = pcm[2 * f + 1] =
            int16_t(std::lround(0.5 * 32767 * std::sin(2 * M_PI * 100 * 44100.0 / 1024 * (f - 22050) / 44100)));
    soundcheck::BandSeries s = soundcheck::bandsFromPcm(pcm, 1000);
    ASSERT_EQ(s.ms.size(), 60u);
    EXPECT_EQ(s.bands[29][0], 0.0f) << "483 ms: before the sine";
    EXPECT_NEAR(s.bands[45][0], 0.5f, 0.01f) << "750 ms: the window is full of it";
    EXPECT_LT(s.bands[45][2], 0.001f) << "nothing on bin 250";
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
