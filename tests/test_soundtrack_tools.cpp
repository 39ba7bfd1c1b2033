// The soundtrack's measuring code, on signals whose answers are known: if it
// drifted, the calibration tests on the real piece would measure the wrong
// thing. (The composer's filters and envelopes are judged by those tests on
// the piece itself; its noise must repeat for a build to give the same piece.)
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

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
