// The generated soundtrack, measured as the demo hears it: length and
// gapless start, headroom and the fade at the end, the levels of the three
// spectrum bins the picture reacts to (per section, read at 60 fps through
// the stepped clock), quiet passages that stay quiet, and an accent on every
// mark of the picture. Decoding the piece takes seconds, so each test
// measures several properties of one decode.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "marks.h"
#include "soundcheck.h"
#include "synth.h"

namespace {

const std::string kMix = std::string(TESSERA_ASSETS_DIR) + "/music/mix.mp3";

// Decoded once per process: the samples and the 60 fps levels.
class Soundtrack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string reason;
        decoded = soundcheck::decodeMp3(kMix.c_str(), &pcm, &reason);
        if (decoded) stepped = soundcheck::readBandsStepped(kMix.c_str(), soundtrack::kLengthMs, &series, &reason);
        failure = reason;
    }
    void SetUp() override {
        ASSERT_TRUE(decoded && stepped) << kMix << ": " << failure;
        // every check below may read up to the end of the rendered length
        ASSERT_GE(pcm.size(), size_t(soundtrack::kLengthMs) * 2 * 441 / 10) << "the piece is too short";
    }

    // RMS of both channels over [fromMs, toMs), as a fraction of full scale.
    static double rms(int32_t fromMs, int32_t toMs) {
        double s = 0;
        const long f0 = long(fromMs) * 441 / 10, f1 = long(toMs) * 441 / 10;
        for (long f = 2 * f0; f < 2 * f1; ++f) s += double(pcm[f]) * pcm[f];
        return std::sqrt(s / double(2 * (f1 - f0))) / 32768.0;
    }

    static inline bool decoded = false, stepped = false;
    static inline std::string failure;
    static inline std::vector<int16_t> pcm;
    static inline soundcheck::BandSeries series;
};

TEST_F(Soundtrack, WholePieceFromItsFirstSampleWithHeadroomFadingOutByTheEnd) {
    // The Info tag lets the decoder drop the encoder's delay and padding: the
    // decoded length is exactly the rendered length, at least 262 s, and the
    // fade-in from silence keeps the first 10 ms quiet.
    const long frames = long(pcm.size() / 2);
    EXPECT_EQ(frames, long(soundtrack::kLengthMs) * 44100 / 1000);
    EXPECT_GE(frames, 262L * 44100);
    EXPECT_LT(soundcheck::peakLevel(std::vector<int16_t>(pcm.begin(), pcm.begin() + 2 * 441)), 0.01f);

    const float peak = soundcheck::peakLevel(pcm);
    EXPECT_LE(20 * std::log10(peak), -1.0) << "peak " << peak;
    EXPECT_GT(peak, 0.5f) << "the piece is mastered to use its range";

    // The demo exits at 260 s: the piece is silent from there on, and the
    // last chord is already fading in the seconds before.
    EXPECT_LT(rms(260050, 263000), 1e-4);
    EXPECT_GT(rms(250500, 252500), 10 * rms(258000, 259500));
    EXPECT_GT(rms(250500, 252500), 0.01) << "the end card has music under it";
}

TEST_F(Soundtrack, BinLevelsMeetTheirTargetsAndStayOffInTheQuietParts) {
    // The music layer's spectrum and one computed here from the same decoded
    // samples agree exactly, frame by frame.
    const soundcheck::BandSeries direct = soundcheck::bandsFromPcm(pcm, soundtrack::kLengthMs);
    ASSERT_EQ(direct.ms, series.ms);
    EXPECT_TRUE(direct.bands == series.bands);

    // The effects multiply these levels by up to 100000: the ranges keep the
    // picture lively on the hits and calm between them.
    const struct {
        float medianLo, medianHi, p95Lo, p95Hi;
    } targets[3] = {
        {0.003f, 0.012f, 0.012f, 0.03f},  // bin 100, ~4.3 kHz
        {0.001f, 0.004f, 0.004f, 0.01f},  // bin 150, ~6.5 kHz
        {0.0002f, 0.001f, 0.0f, 0.004f},  // bin 250, ~10.8 kHz
    };
    int checked = 0, end = 0;
    for (const auto& sec : soundtrack::kSections) {
        EXPECT_EQ(sec.startMs, end) << sec.name << ": the sections tile the piece";
        end = sec.endMs;
        if (!sec.drums) continue;
        ++checked;
        const soundcheck::SectionStats st = soundcheck::sectionStats(series, sec.startMs, sec.endMs, true);
        for (int b = 0; b < 3; ++b) {
            SCOPED_TRACE(std::string(sec.name) + " band " + std::to_string(b));
            EXPECT_GE(st.median[b], targets[b].medianLo);
            EXPECT_LE(st.median[b], targets[b].medianHi);
            EXPECT_GE(st.p95[b], targets[b].p95Lo);
            EXPECT_LE(st.p95[b], targets[b].p95Hi);
            EXPECT_GE(st.hitRatio[b], 3.0f) << "the level must pulse with the hats and claps";
        }
    }
    EXPECT_GE(checked, 10);
    EXPECT_EQ(end, soundtrack::kLengthMs);

    // The first 10 s of the intro and the break are near silent in the bins.
    for (const auto& [from, to] : {std::pair{0, 10000}, std::pair{86800, 89000}}) {
        const soundcheck::SectionStats st = soundcheck::sectionStats(series, from, to, false);
        for (int b = 0; b < 3; ++b) EXPECT_LT(st.p95[b], 0.0005f) << from << "-" << to << " band " << b;
    }
}

TEST_F(Soundtrack, EveryMarkCarriesAnAccentAndQuietPassagesHaveNoClicks) {
    for (int32_t mark : soundtrack::kMarksMs) {
        const soundcheck::Onset o = soundcheck::onsetNear(pcm, mark);
        EXPECT_LE(std::abs(o.ms - mark), 10) << "mark " << mark << ": onset at " << o.ms;
        EXPECT_GE(o.strength, 4.0) << "mark " << mark << ": the accent stands out by at least 6 dB";
    }
    // Everything pitched is low-passed well below 6 kHz, so where no cymbal
    // or hat plays, energy above 6 kHz in any millisecond would be a click:
    // a note or a section starting or stopping abruptly.
    for (const auto& [from, to] : {std::pair{0, 15000}, std::pair{87000, 88950}, std::pair{253000, 263000}}) {
        synth::Biquad hp1, hp2;
        hp1.highpass(6000, 0.7);
        hp2.highpass(6000, 0.7);
        double worst = 0, sum = 0;
        int32_t worstMs = from;
        const long f0 = long(from) * 441 / 10, f1 = long(to) * 441 / 10;
        for (long f = f0; f < f1; ++f) {
            const float y = hp2.run(hp1.run((pcm[2 * f] + pcm[2 * f + 1]) / 65536.0f));
            sum += y * y;
            if ((f - f0) % 44 != 43) continue;
            const double level = std::sqrt(sum / 44);
            sum = 0;
            if (level > worst && f - f0 > 4410) {  // past the filters' settling
                worst = level;
                worstMs = int32_t(f * 10 / 441);
            }
        }
        EXPECT_LT(worst, 0.0005) << "span " << from << "-" << to << ": worst at " << worstMs << " ms";
    }
}

}  // namespace
