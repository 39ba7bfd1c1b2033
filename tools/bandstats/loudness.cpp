// loudness.cpp -- the soundtrack's loudness through libebur128, and the
// mastering figures the meter does not give.
#include "loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>

#include "audio/spectrum.h"

namespace soundcheck {

bool measureLoudness(const std::vector<int16_t>& pcm, Loudness* out) {
    *out = Loudness{};
    ebur128_state* st = ebur128_init(2, 44100, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_S | EBUR128_MODE_TRUE_PEAK);
    if (!st) return false;
    const size_t frames = pcm.size() / 2, step = 4410;
    bool ok = true;
    for (size_t f = 0; f + step <= frames && ok; f += step) {
        ok = ebur128_add_frames_short(st, pcm.data() + 2 * f, step) == EBUR128_SUCCESS;
        double s = -HUGE_VAL;
        // Short-term loudness is defined once 3 s have been heard.
        if (ok && ebur128_loudness_shortterm(st, &s) != EBUR128_SUCCESS) s = -HUGE_VAL;
        out->shortTerm.push_back(std::isfinite(s) ? std::max(s, -70.0) : -70.0);
    }
    double peaks[2] = {0, 0};
    ok = ok && ebur128_loudness_global(st, &out->integrated) == EBUR128_SUCCESS &&
         ebur128_loudness_range(st, &out->range) == EBUR128_SUCCESS &&
         ebur128_true_peak(st, 0, &peaks[0]) == EBUR128_SUCCESS && ebur128_true_peak(st, 1, &peaks[1]) == EBUR128_SUCCESS;
    out->truePeak = 20 * std::log10(std::max({peaks[0], peaks[1], 1e-9}));
    ebur128_destroy(&st);
    return ok;
}

double shortTermAt(const Loudness& l, int32_t ms) {
    const long k = long(ms) / 100 - 1;
    if (k < 0 || l.shortTerm.empty()) return -70.0;
    return l.shortTerm[size_t(std::min(k, long(l.shortTerm.size()) - 1))];
}

std::vector<double> shortTermIn(const Loudness& l, int32_t fromMs, int32_t toMs) {
    std::vector<double> v;
    for (size_t k = 0; k < l.shortTerm.size(); ++k) {
        const long end = long(k + 1) * 100;
        if (end >= fromMs && end < toMs) v.push_back(l.shortTerm[k]);
    }
    return v;
}

double dcLevelDb(const std::vector<int16_t>& pcm) {
    double sum[2] = {0, 0};
    const size_t frames = pcm.size() / 2;
    for (size_t f = 0; f < frames; ++f) {
        sum[0] += pcm[2 * f];
        sum[1] += pcm[2 * f + 1];
    }
    const double dc = std::max(std::fabs(sum[0]), std::fabs(sum[1])) / std::max<size_t>(frames, 1) / 32768.0;
    return 20 * std::log10(std::max(dc, 1e-12));
}

Width stereoWidth(const std::vector<int16_t>& pcm, int32_t fromMs, int32_t toMs) {
    const long frames = long(pcm.size() / 2);
    const long f0 = std::clamp(long(fromMs) * 441 / 10, 0L, frames), f1 = std::clamp(long(toMs) * 441 / 10, 0L, frames);
    double mm = 0, ss = 0, ll = 0, rr = 0, lr = 0;
    for (long f = f0; f < f1; ++f) {
        const double l = pcm[2 * f], r = pcm[2 * f + 1];
        const double m = 0.5 * (l + r), s = 0.5 * (l - r);
        mm += m * m;
        ss += s * s;
        ll += l * l;
        rr += r * r;
        lr += l * r;
    }
    Width w;
    w.sideOverMidDb = 10 * std::log10(std::max(ss, 1e-12) / std::max(mm, 1e-12));
    w.correlation = ll > 0 && rr > 0 ? lr / std::sqrt(ll * rr) : 0;
    return w;
}

std::vector<double> averagePower(const std::vector<int16_t>& pcm) {
    std::vector<double> power(kSpectrumBins, 0.0);
    float sp[kSpectrumBins];
    const size_t frames = pcm.size() / 2;
    long windows = 0;
    for (size_t f = 0; f + kSpectrumWindow <= frames; f += kSpectrumWindow) {
        computeSpectrum(pcm.data() + 2 * f, sp);
        for (int b = 0; b < kSpectrumBins; ++b) power[b] += double(sp[b]) * sp[b];
        ++windows;
    }
    for (double& p : power) p /= std::max(windows, 1L);
    return power;
}

double bandRelativeDb(const std::vector<double>& power, double loHz, double hiHz) {
    const double hzPerBin = 44100.0 / kSpectrumWindow;
    auto mean = [&](double lo, double hi) {
        double s = 0;
        int n = 0;
        for (size_t b = 0; b < power.size(); ++b)
            if (b * hzPerBin >= lo && b * hzPerBin <= hi) s += power[b], ++n;
        return n ? s / n : 0.0;
    };
    return 10 * std::log10(std::max(mean(loHz, hiHz), 1e-30) / std::max(mean(100, 20000), 1e-30));
}

}  // namespace soundcheck
