// soundtrack_sheet.cpp -- tessera-soundtrack-sheet: the soundtrack on one page.
//
// Four panels over the length of the piece, one pixel column per
// kMsPerColumn: the short-term loudness (libebur128, 3 s window) against the
// mix's integrated loudness and the breakdown's ceiling; each of the three
// spectrum bins the picture reads, as the median and the 95th percentile of
// the 60 fps levels in every half second, against the limits a drum section
// must keep; and a spectrogram of the demo's own 512-bin spectrum with the
// three bins marked. The sections of the schedule are shaded and named
// along the top and the marks drawn as ticks, so every bump can be matched
// with the picture that it drives.
//
// Usage: tessera-soundtrack-sheet <mix.mp3> <out.png>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/spectrum.h"
#include "canvas.h"
#include "lettering.h"
#include "loudness.h"
#include "marks.h"
#include "offscreen_gl.h"
#include "soundcheck.h"

namespace {

constexpr int kMsPerColumn = 200;
constexpr int kLeft = 96, kRight = 24, kTop = 92, kGap = 34;
constexpr int kPlotWidth = soundtrack::kLengthMs / kMsPerColumn;  // 1315 columns
constexpr int kLoudHeight = 180, kBinHeight = 130, kSpecHeight = 240;
constexpr int kWidth = kLeft + kPlotWidth + kRight;

const Rgb kBackground{0.11f, 0.115f, 0.13f}, kPanel{0.07f, 0.075f, 0.085f}, kText{0.92f, 0.93f, 0.95f},
    kDim{0.55f, 0.58f, 0.63f}, kGrid{0.2f, 0.21f, 0.24f};

struct Panel {
    int top, height;
    double lo, hi;  // value at the bottom and at the top
    int y(double v) const {
        const double u = std::clamp((v - lo) / (hi - lo), 0.0, 1.0);
        return top + height - 1 - int(std::lround(u * (height - 1)));
    }
};

void fill(Canvas& c, int x0, int y0, int x1, int y1, Rgb colour, float alpha = 1.0f) {
    for (int y = std::max(0, y0); y < std::min(c.height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(c.width, x1); ++x) c.at(x, y) = mix(c.at(x, y), colour, alpha);
}

void hline(Canvas& c, const Panel& p, double v, Rgb colour) { fill(c, kLeft, p.y(v), kLeft + kPlotWidth, p.y(v) + 1, colour); }

// A trace: each column joined to the next by a vertical run.
void trace(Canvas& c, const Panel& p, const std::vector<double>& v, Rgb colour) {
    for (size_t x = 0; x < v.size(); ++x) {
        const int y0 = p.y(v[x]), y1 = x + 1 < v.size() ? p.y(v[x + 1]) : y0;
        fill(c, kLeft + int(x), std::min(y0, y1), kLeft + int(x) + 1, std::max(y0, y1) + 1, colour);
    }
}

void text(Canvas& c, const std::string& s, float size, int left, int baseline, Rgb colour, bool bold = false) {
    TextBlock b = setLine(s, {bold ? Typeface::SansBold : Typeface::Sans, size, 0.2f});
    stampText(c, b, left, baseline - int(b.baselineY + 0.5f), colour);
}

void textRight(Canvas& c, const std::string& s, float size, int right, int baseline, Rgb colour) {
    TextBlock b = setLine(s, {Typeface::Sans, size, 0.2f});
    stampText(c, b, right - b.coverage.width, baseline - int(b.baselineY + 0.5f), colour);
}

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// The panel's frame: background, alternate shading per section, the marks.
void frame(Canvas& c, const Panel& p, const std::string& title) {
    fill(c, kLeft, p.top, kLeft + kPlotWidth, p.top + p.height, kPanel);
    for (int k = 0; k < soundtrack::kSectionCount; ++k)
        if (k % 2)
            fill(c, kLeft + soundtrack::kSections[k].startMs / kMsPerColumn, p.top,
                 kLeft + std::min(soundtrack::kSections[k].endMs, soundtrack::kLengthMs) / kMsPerColumn, p.top + p.height,
                 {1, 1, 1}, 0.035f);
    for (int32_t m : soundtrack::kMarksMs) fill(c, kLeft + m / kMsPerColumn, p.top, kLeft + m / kMsPerColumn + 1, p.top + 6, kDim);
    text(c, title, 12, kLeft, p.top - 7, kText, true);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessera-soundtrack-sheet <mix.mp3> <out.png>\n");
        return 2;
    }
    std::string reason;
    std::vector<int16_t> pcm;
    soundcheck::Loudness loud;
    if (!openTypefaces(&reason) || !soundcheck::decodeMp3(argv[1], &pcm, &reason)) {
        std::fprintf(stderr, "tessera-soundtrack-sheet: %s\n", reason.c_str());
        return 1;
    }
    if (!soundcheck::measureLoudness(pcm, &loud)) {
        std::fprintf(stderr, "tessera-soundtrack-sheet: the loudness meter did not start\n");
        return 1;
    }
    const soundcheck::BandSeries series = soundcheck::bandsFromPcm(pcm, soundtrack::kLengthMs);

    Panel loudPanel{kTop, kLoudHeight, -40, -8};
    Panel bins[3] = {{0, kBinHeight, 0, 0.036}, {0, kBinHeight, 0, 0.012}, {0, kBinHeight, 0, 0.0045}};
    int y = kTop + kLoudHeight + kGap;
    for (Panel& b : bins) {
        b.top = y;
        y += kBinHeight + kGap;
    }
    Panel spectro{y, kSpecHeight, 0, 22050};
    Canvas c(kWidth, spectro.top + kSpecHeight + 40);
    for (Rgb& p : c.pixels) p = kBackground;
    text(c, "tessera \xE2\x80\x94 the soundtrack: " + fmt("%.1f LUFS integrated, ", loud.integrated) +
                fmt("loudness range %.1f LU, ", loud.range) + fmt("true peak %.1f dBTP", loud.truePeak),
         17, kLeft, 30, kText);
    // Section names along the top, alternating two rows so short ones fit.
    for (int k = 0; k < soundtrack::kSectionCount; ++k)
        text(c, soundtrack::kSections[k].name, 10, kLeft + soundtrack::kSections[k].startMs / kMsPerColumn + 2,
             kTop - 30 - (k % 2) * 12, kDim);

    // Loudness.
    frame(c, loudPanel, "short-term loudness (LUFS)");
    for (double v : {-35.0, -30.0, -25.0, -20.0, -15.0, -10.0}) {
        hline(c, loudPanel, v, kGrid);
        textRight(c, fmt("%.0f", v), 10, kLeft - 6, loudPanel.y(v) + 4, kDim);
    }
    hline(c, loudPanel, loud.integrated, {0.45f, 0.45f, 0.5f});
    hline(c, loudPanel, -19, {0.35f, 0.5f, 0.75f});
    text(c, "grey: integrated; blue: -19, the breakdown's ceiling", 10, kLeft + 220, loudPanel.top - 7, kDim);
    std::vector<double> st(kPlotWidth);
    for (int x = 0; x < kPlotWidth; ++x) st[size_t(x)] = soundcheck::shortTermAt(loud, (x + 1) * kMsPerColumn);
    trace(c, loudPanel, st, {0.98f, 0.78f, 0.35f});

    // The bins: median and p95 per half second, with a drum section's limits.
    const char* names[3] = {"bin 100 (4.3 kHz): median (orange) and 95th percentile (green) per half second; "
                            "blue: a drum section's median range and 95th-percentile ceiling",
                            "bin 150 (6.5 kHz)", "bin 250 (10.8 kHz)"};
    const double limits[3][3] = {{0.003, 0.012, 0.03}, {0.001, 0.004, 0.01}, {0.0002, 0.001, 0.004}};
    for (int b = 0; b < 3; ++b) {
        frame(c, bins[b], names[b]);
        for (int k = 0; k < 3; ++k) {
            hline(c, bins[b], limits[b][k], {0.35f, 0.5f, 0.75f});
            textRight(c, fmt(b == 2 ? "%.4f" : "%.3f", limits[b][k]), 10, kLeft - 6, bins[b].y(limits[b][k]) + 4, kDim);
        }
        std::vector<double> med, p95;
        for (int32_t ms = 0; ms < soundtrack::kLengthMs; ms += 500) {
            const auto s = soundcheck::sectionStats(series, ms, ms + 500, false);
            med.push_back(s.median[b]);
            p95.push_back(s.p95[b]);
        }
        std::vector<double> medCols(kPlotWidth), p95Cols(kPlotWidth);
        for (int x = 0; x < kPlotWidth; ++x) {
            medCols[size_t(x)] = med[size_t(x * kMsPerColumn / 500)];
            p95Cols[size_t(x)] = p95[size_t(x * kMsPerColumn / 500)];
        }
        trace(c, bins[b], p95Cols, {0.45f, 0.8f, 0.7f});
        trace(c, bins[b], medCols, {0.98f, 0.55f, 0.4f});
    }

    // Spectrogram: the mean power of the windows in each column, in dB.
    frame(c, spectro, "spectrogram (the demo's 512-bin spectrum, mean power per column, -110 to -20 dB)");
    const long frames = long(pcm.size() / 2);
    float sp[kSpectrumBins];
    for (int x = 0; x < kPlotWidth; ++x) {
        std::vector<double> power(kSpectrumBins, 0.0);
        int n = 0;
        for (long f = long(x) * kMsPerColumn * 441 / 10; f + kSpectrumWindow <= std::min(frames, long(x + 1) * kMsPerColumn * 441 / 10);
             f += kSpectrumWindow, ++n) {
            computeSpectrum(pcm.data() + 2 * f, sp);
            for (int k = 0; k < kSpectrumBins; ++k) power[size_t(k)] += double(sp[k]) * sp[k];
        }
        for (int yy = 0; yy < kSpecHeight; ++yy) {
            const int k = std::min(kSpectrumBins - 1, (kSpecHeight - 1 - yy) * kSpectrumBins / kSpecHeight);
            const double db = 10 * std::log10(power[size_t(k)] / std::max(n, 1) + 1e-14);
            const float u = float(std::clamp((db + 110) / 90, 0.0, 1.0));
            const Rgb colour = u < 0.5f ? mix(Rgb{0.02f, 0.02f, 0.08f}, Rgb{0.55f, 0.1f, 0.45f}, u * 2)
                                        : mix(Rgb{0.55f, 0.1f, 0.45f}, Rgb{1.0f, 0.9f, 0.45f}, (u - 0.5f) * 2);
            c.at(kLeft + x, spectro.top + yy) = colour;
        }
    }
    for (int k : {100, 150, 250}) {
        const int yy = spectro.top + kSpecHeight - 1 - k * kSpecHeight / kSpectrumBins;
        fill(c, kLeft - 8, yy, kLeft, yy + 1, kText);
        textRight(c, "bin " + std::to_string(k), 10, kLeft - 10, yy + 4, kDim);
    }
    for (int khz : {0, 5, 10, 15, 20}) textRight(c, std::to_string(khz) + " kHz", 10, kLeft - 52, spectro.y(khz * 1000.0) + 4, kDim);
    // Time along the bottom.
    for (int s = 0; s * 1000 < soundtrack::kLengthMs; s += 20) {
        const int x = kLeft + s * 1000 / kMsPerColumn;
        fill(c, x, spectro.top + kSpecHeight, x + 1, spectro.top + kSpecHeight + 5, kDim);
        text(c, std::to_string(s / 60) + ":" + (s % 60 < 10 ? "0" : "") + std::to_string(s % 60), 10, x - 10,
             spectro.top + kSpecHeight + 18, kDim);
    }
    if (!writePngRgb(argv[2], c.width, c.height, toRgb8(c), &reason)) {
        std::fprintf(stderr, "tessera-soundtrack-sheet: %s\n", reason.c_str());
        return 1;
    }
    std::printf("tessera-soundtrack-sheet: wrote %s\n", argv[2]);
    return 0;
}
