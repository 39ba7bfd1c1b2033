// soundcheck.cpp -- decoding and measuring the soundtrack.
#include "soundcheck.h"

#include <algorithm>
#include <cmath>

#include "audio/music.h"
#include "audio/spectrum.h"
#include "synth.h"

namespace soundcheck {

// The whole soundtrack as the demo decodes it: gapless, 44.1 kHz stereo
// 16-bit, through the music layer itself.
bool decodeMp3(const char* path, std::vector<int16_t>* pcm, std::string* reason) {
    pcm->clear();
    if (!musicFileIsPlayable(path, reason)) return false;
    MusicStream* stream = musicOpen(path);
    if (!stream) {
        *reason = "cannot open";
        return false;
    }
    const long long frames = musicDecodedFrames(stream);
    pcm->resize(size_t(frames) * 2);
    musicReadFrames(stream, 0, frames, pcm->data());
    musicClose(stream);
    if (pcm->empty()) {
        *reason = "no audio in the file";
        return false;
    }
    return true;
}

namespace {

// The music position of frame k of a 60 fps run.
int32_t frameMs(long k) { return int32_t(k * 1000 / 60); }

}  // namespace

// Steps the music layer's clock through the whole piece, as the offline
// renderer does, and keeps the three levels of every frame.
bool readBandsStepped(const char* path, int lengthMs, BandSeries* out, std::string* reason) {
    musicUseSteppedClock();
    musicInit(kMusicRate);
    if (!musicFileIsPlayable(path, reason)) return false;
    MusicStream* s = musicOpen(path);
    if (!s) {
        *reason = "cannot open the stream";
        return false;
    }
    musicSetTime(s, 0);
    musicPlay(s);
    musicEnableSpectrum();
    out->ms.clear();
    out->bands.clear();
    for (long k = 0; frameMs(k) < lengthMs; ++k) {
        musicSetSteppedTime(frameMs(k));
        const float* sp = musicSpectrum();
        out->ms.push_back(frameMs(k));
        out->bands.push_back({sp[100], sp[150], sp[250]});
    }
    musicClose(s);
    musicShutdown();
    return true;
}

// The analysis window ends at the frame of the position, zeros outside.
BandSeries bandsFromPcm(const std::vector<int16_t>& pcm, int lengthMs) {
    BandSeries out;
    const long frames = long(pcm.size() / 2);
    std::vector<int16_t> window(2 * kSpectrumWindow);
    float sp[kSpectrumBins];
    for (long k = 0; frameMs(k) < lengthMs; ++k) {
        long end = long(frameMs(k)) * 44100 / 1000;
        for (int i = 0; i < kSpectrumWindow; ++i) {
            long f = end - kSpectrumWindow + i;
            bool in = f >= 0 && f < frames;
            window[2 * i] = in ? pcm[2 * f] : 0;
            window[2 * i + 1] = in ? pcm[2 * f + 1] : 0;
        }
        computeSpectrum(window.data(), sp);
        out.ms.push_back(frameMs(k));
        out.bands.push_back({sp[100], sp[150], sp[250]});
    }
    return out;
}

float quantile(std::vector<float> values, double q) {
    if (values.empty()) return 0;
    size_t idx = size_t(std::clamp(std::ceil(q * values.size()) - 1, 0.0, double(values.size() - 1)));
    std::nth_element(values.begin(), values.begin() + long(idx), values.end());
    return values[idx];
}

// Frames are sorted by time, so each query is a binary search.
SectionStats sectionStats(const BandSeries& series, int32_t startMs, int32_t endMs, bool drums) {
    SectionStats st;
    auto lo = std::lower_bound(series.ms.begin(), series.ms.end(), startMs) - series.ms.begin();
    auto hi = std::lower_bound(series.ms.begin(), series.ms.end(), endMs) - series.ms.begin();
    st.frames = int(hi - lo);
    // Largest level among the frames whose position lies in [a, b).
    auto maxIn = [&](int32_t a, int32_t b, int band) {
        auto i = std::lower_bound(series.ms.begin(), series.ms.end(), a) - series.ms.begin();
        float m = 0;
        for (; i < long(series.ms.size()) && series.ms[i] < b; ++i) m = std::max(m, series.bands[i][band]);
        return m;
    };
    for (int b = 0; b < 3; ++b) {
        std::vector<float> v;
        for (auto i = lo; i < hi; ++i) v.push_back(series.bands[i][b]);
        st.median[b] = quantile(v, 0.5);
        st.p95[b] = quantile(v, 0.95);
        if (!drums) continue;
        // A hit's frames see its first 34 ms; the frames a sixteenth later
        // see the quiet half-way to the next eighth.
        std::vector<float> hits, gaps;
        const int32_t eighth = 2 * soundtrack::kSixteenthMs;
        for (int32_t h = (startMs + eighth - 1) / eighth * eighth; h + eighth <= endMs; h += eighth) {
            hits.push_back(maxIn(h, h + 34, b));
            gaps.push_back(maxIn(h + eighth / 2, h + eighth / 2 + 34, b));
        }
        float gap = quantile(gaps, 0.5);
        st.hitRatio[b] = gap > 0 ? quantile(hits, 0.5) / gap : 0;
    }
    return st;
}

float peakLevel(const std::vector<int16_t>& pcm) {
    int m = 0;
    for (int16_t s : pcm) m = std::max(m, std::abs(int(s)));
    return m / 32768.0f;
}

// Energy per millisecond in four bands of the mono mix, then the largest
// ratio of the 10 ms after a candidate position to the 30 ms before it.
Onset onsetNear(const std::vector<int16_t>& pcm, int32_t markMs) {
    const long frames = long(pcm.size() / 2);
    const int32_t from = markMs - 80, to = markMs + 80;  // energies computed here
    const int bins = to - from;
    std::vector<std::array<double, 4>> e(bins, {0, 0, 0, 0});
    synth::Biquad low, midLo, midHi, high1, high2;
    low.lowpass(200, 0.7);
    midHi.lowpass(3000, 0.7);
    midLo.highpass(300, 0.7);
    high1.highpass(3000, 0.7);
    high2.highpass(3000, 0.7);
    // Run the filters in from 200 ms earlier so they have settled.
    long f0 = std::max(0L, long(from - 200) * 441 / 10), f1 = std::min(frames, long(to) * 441 / 10);
    for (long f = f0; f < f1; ++f) {
        float x = (pcm[2 * f] + pcm[2 * f + 1]) / 65536.0f;
        float lo = low.run(x), mid = midHi.run(midLo.run(x)), hi = high2.run(high1.run(x));
        long ms = f * 10 / 441 - from;
        if (ms < 0 || ms >= bins) continue;
        e[ms][0] += x * x;
        e[ms][1] += lo * lo;
        e[ms][2] += mid * mid;
        e[ms][3] += hi * hi;
    }
    Onset best;
    for (int32_t t = markMs - 40; t <= markMs + 40; ++t) {
        int j = t - from;
        for (int b = 0; b < 4; ++b) {
            double post = 0, pre = 0;
            for (int k = 0; k < 10; ++k) post += e[j + k][b];
            for (int k = 3; k < 33; ++k) pre += e[j - k][b];
            double ratio = (post / 10) / (pre / 30 + 1e-12);
            if (ratio > best.strength) {
                best.strength = ratio;
                best.ms = t;
            }
        }
    }
    return best;
}

}  // namespace soundcheck
