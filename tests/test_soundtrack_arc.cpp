// The soundtrack's shape, measured as a listener's meter and the picture see
// it: loudness over the piece (libebur128), the breakdown and the climax, the
// drops, the stereo image and its mono low end, and how differently the
// three spectrum bins move from one drum section to the next. The figures
// are fixed targets of the mix, not readings of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "loudness.h"
#include "marks.h"
#include "soundcheck.h"
#include "synth.h"

namespace {

const std::string kMix = std::string(TESSERA_ASSETS_DIR) + "/music/mix.mp3";

double mean(const std::vector<double>& v) { return v.empty() ? -70.0 : std::accumulate(v.begin(), v.end(), 0.0) / v.size(); }

double median(std::vector<double> v) {
    if (v.empty()) return -70.0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Decoded, metered and stepped once per process.
class SoundtrackArc : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string reason;
        ok = soundcheck::decodeMp3(kMix.c_str(), &pcm, &reason) && soundcheck::measureLoudness(pcm, &loudness);
        if (ok) series = soundcheck::bandsFromPcm(pcm, soundtrack::kLengthMs);
        failure = ok ? "" : (reason.empty() ? "the meter did not start" : reason);
    }
    void SetUp() override { ASSERT_TRUE(ok) << kMix << ": " << failure; }

    static double sectionMean(int32_t from, int32_t to) { return mean(soundcheck::shortTermIn(loudness, from, to)); }

    static inline bool ok = false;
    static inline std::string failure;
    static inline std::vector<int16_t> pcm;
    static inline soundcheck::Loudness loudness;
    static inline soundcheck::BandSeries series;
};

TEST_F(SoundtrackArc, LoudnessRangeAndPeaksOfAProducedTrack) {
    EXPECT_NEAR(loudness.integrated, -14.0, 0.5);
    EXPECT_LE(loudness.truePeak, -1.0) << "inter-sample peaks must leave a decoder room";
    EXPECT_GE(loudness.range, 5.0) << "the piece has quiet and loud stretches";
    EXPECT_LE(loudness.range, 9.0);
    EXPECT_LT(soundcheck::dcLevelDb(pcm), -70.0);
}

TEST_F(SoundtrackArc, BreakdownIsQuietTheFloorIsTheClimaxAndTheDropsLand) {
    // At least 10 s of the halftone breakdown at or below -19 LUFS.
    const std::vector<double> breakdown = soundcheck::shortTermIn(loudness, soundtrack::kHalftoneMs, soundtrack::kBreakdownEndMs);
    EXPECT_GE(std::count_if(breakdown.begin(), breakdown.end(), [](double v) { return v <= -19.0; }), 100);

    // The floor: at least 1 LU above the median of the body of the piece,
    // and louder than every other section.
    const double floor = sectionMean(soundtrack::kFloorMs, soundtrack::kClosingMs);
    EXPECT_GE(floor, median(soundcheck::shortTermIn(loudness, 20000, 250000)) + 1.0);
    for (const auto& sec : soundtrack::kSections) {
        if (sec.startMs == soundtrack::kFloorMs) continue;
        EXPECT_LT(sectionMean(sec.startMs, sec.endMs), floor) << sec.name;
    }

    // Each drop is louder than what led into it: the 3 s before against
    // the 3 s from one bar after it (once the meter's window is past it).
    // The floor comes out of a full section, so it rises least.
    const struct {
        const char* name;
        int32_t dropMs;
        double riseLu;
    } drops[] = {{"cube volume", soundtrack::kVolumeMs, 3.0}, {"halftone", soundtrack::kHalftoneDropMs, 3.0},
                 {"floor", soundtrack::kFloorMs, 1.0}};
    for (const auto& d : drops) {
        const double before = soundcheck::shortTermAt(loudness, d.dropMs - 300);
        const double after = sectionMean(d.dropMs + soundtrack::kBarMs + 3000, d.dropMs + soundtrack::kBarMs + 6000);
        EXPECT_GE(after, before + d.riseLu) << d.name << ": " << before << " then " << after;
    }
    // The intro is far quieter than the body.
    EXPECT_LE(sectionMean(3000, soundtrack::kDrumsInMs), loudness.integrated - 5.0);
}

TEST_F(SoundtrackArc, WideImageWithAMonoLowEnd) {
    double widest = -100;
    for (const auto& sec : soundtrack::kSections)
        if (sec.drums) widest = std::max(widest, soundcheck::stereoWidth(pcm, sec.startMs, sec.endMs).sideOverMidDb);
    EXPECT_GE(widest, -8.0);
    EXPECT_GE(soundcheck::stereoWidth(pcm, soundtrack::kFloorMs, soundtrack::kClosingMs).sideOverMidDb, -8.0);

    // Below 120 Hz left and right are one signal: low-passed at 60 Hz, the
    // side is far below the middle.
    synth::Biquad lp[2][2];
    for (auto& ch : lp)
        for (auto& b : ch) b.lowpass(60, 0.7071);
    std::vector<int16_t> low(pcm.size());
    for (size_t f = 0; f < pcm.size() / 2; ++f)
        for (int ch = 0; ch < 2; ++ch)
            low[2 * f + ch] = int16_t(std::lround(lp[ch][1].run(lp[ch][0].run(float(pcm[2 * f + ch])))));
    EXPECT_LT(soundcheck::stereoWidth(low, 20000, 250000).sideOverMidDb, -30.0);
}

TEST_F(SoundtrackArc, EveryBinMovesDifferentlyFromSectionToSection) {
    // For each bin, the busiest drum section's median is at least 1.6 times
    // the calmest's, so scenes react by different amounts.
    for (int b = 0; b < 3; ++b) {
        float lo = 1, hi = 0;
        const char *calm = "", *busy = "";
        for (const auto& sec : soundtrack::kSections) {
            if (!sec.drums) continue;
            const float m = soundcheck::sectionStats(series, sec.startMs, sec.endMs, false).median[b];
            if (m < lo) lo = m, calm = sec.name;
            if (m > hi) hi = m, busy = sec.name;
        }
        EXPECT_GE(hi, 1.6f * lo) << "bin " << b << ": " << busy << " " << hi << ", " << calm << " " << lo;
    }
    // The breakdown sits low in bin 100 and the floor high in bins 100 and
    // 150, against the whole of the drum sections.
    const auto breakdown = soundcheck::sectionStats(series, soundtrack::kHalftoneMs, soundtrack::kBreakdownEndMs, false);
    const auto floor = soundcheck::sectionStats(series, soundtrack::kFloorMs, soundtrack::kClosingMs, false);
    EXPECT_GE(floor.median[0], 1.6f * breakdown.median[0]);
    EXPECT_GE(floor.median[1], 1.3f * breakdown.median[1]);
}

}  // namespace
