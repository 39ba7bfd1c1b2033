// bandstats_main.cpp -- prints, per section of the soundtrack, the levels of
// the three spectrum bins the picture reacts to (read at 60 fps through the
// stepped music clock): median, 95th percentile and, where drums play, the
// level on the hits over the level between them. Also the peak level, the
// loudness (libebur128) overall and per section, DC, stereo width and the
// long-term spectrum in the bands where a mix tends to go wrong.
//
// Usage: tessera-bandstats [mix.mp3]   (default: music/mix.mp3)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "loudness.h"
#include "marks.h"
#include "soundcheck.h"

namespace {

// Median of a copy of values (upper middle when even); 0 when empty.
double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Whole-piece figures, then one row per section.
void printLoudness(const std::vector<int16_t>& pcm) {
    soundcheck::Loudness l;
    if (!soundcheck::measureLoudness(pcm, &l)) {
        std::fprintf(stderr, "tessera-bandstats: the loudness meter did not start\n");
        return;
    }
    const std::vector<double> power = soundcheck::averagePower(pcm);
    const std::vector<double> mid = soundcheck::shortTermIn(l, 20000, 250000);
    std::printf("\nintegrated %.1f LUFS, range %.1f LU, true peak %.1f dBTP, DC %.1f dBFS\n", l.integrated, l.range,
                l.truePeak, soundcheck::dcLevelDb(pcm));
    std::printf("short-term 20-250 s: %.1f to %.1f LUFS, median %.1f\n", *std::min_element(mid.begin(), mid.end()),
                *std::max_element(mid.begin(), mid.end()), median(mid));
    const std::vector<double> breakdown = soundcheck::shortTermIn(l, soundtrack::kHalftoneMs, soundtrack::kBreakdownEndMs);
    const std::vector<double> floor = soundcheck::shortTermIn(l, soundtrack::kFloorMs, soundtrack::kClosingMs);
    double floorSum = 0;
    for (double v : floor) floorSum += v;
    std::printf("halftone breakdown: %.1f s at or below -19 LUFS; floor: mean %.1f LUFS, %.1f LU above that median\n",
                double(std::count_if(breakdown.begin(), breakdown.end(), [](double v) { return v <= -19.0; })) / 10.0,
                floorSum / double(std::max<size_t>(floor.size(), 1)), floorSum / double(std::max<size_t>(floor.size(), 1)) - median(mid));
    std::printf("spectrum re the mean bin of 0.1-20 kHz: 2.5-3.2 kHz %.1f dB, 3.8-4.8 kHz %.1f dB, 15-17 kHz %.1f dB, "
                "17-20 kHz %.1f dB\n",
                soundcheck::bandRelativeDb(power, 2500, 3200), soundcheck::bandRelativeDb(power, 3800, 4800),
                soundcheck::bandRelativeDb(power, 15000, 17000), soundcheck::bandRelativeDb(power, 17000, 20000));
    std::printf("\n| section | ms | short-term mean | min | max | side/mid dB | L/R correlation |\n|---|---|---|---|---|---|---|\n");
    for (const auto& sec : soundtrack::kSections) {
        const std::vector<double> st = soundcheck::shortTermIn(l, sec.startMs, sec.endMs);
        if (st.empty()) continue;
        double sum = 0;
        for (double v : st) sum += v;
        const soundcheck::Width w = soundcheck::stereoWidth(pcm, sec.startMs, sec.endMs);
        std::printf("| %s | %d-%d | %.1f | %.1f | %.1f | %.1f | %.2f |\n", sec.name, sec.startMs, sec.endMs,
                    sum / double(st.size()), *std::min_element(st.begin(), st.end()),
                    *std::max_element(st.begin(), st.end()), w.sideOverMidDb, w.correlation);
    }
}

}  // namespace

// One Markdown table row per section, then the drum sections together.
int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "music/mix.mp3";
    std::vector<int16_t> pcm;
    std::string reason;
    if (!soundcheck::decodeMp3(path, &pcm, &reason)) {
        std::fprintf(stderr, "tessera-bandstats: %s: %s\n", path, reason.c_str());
        return 1;
    }
    soundcheck::BandSeries series;
    if (!soundcheck::readBandsStepped(path, soundtrack::kLengthMs, &series, &reason)) {
        std::fprintf(stderr, "tessera-bandstats: %s: %s\n", path, reason.c_str());
        return 1;
    }
    const float peak = soundcheck::peakLevel(pcm);
    std::printf("%s: %.3f s, peak %.2f dBFS\n\n", path, pcm.size() / 2 / 44100.0, 20 * std::log10(std::max(peak, 1e-9f)));
    std::printf("| section | ms | drums | b100 median | b100 p95 | b150 median | b150 p95 | b250 median | b250 p95 | hit/between 100, 150, 250 |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    // The hit/between ratios are measured per section on its own beat grid.
    auto row = [](const char* name, const char* span, bool drums, const soundcheck::SectionStats& s,
                  bool ratios = true) {
        std::printf("| %s | %s | %s | %.4f | %.4f | %.4f | %.4f | %.5f | %.5f | ", name, span, drums ? "yes" : "no",
                    s.median[0], s.p95[0], s.median[1], s.p95[1], s.median[2], s.p95[2]);
        if (drums && ratios) std::printf("%.1f, %.1f, %.1f |\n", s.hitRatio[0], s.hitRatio[1], s.hitRatio[2]);
        else std::printf("- |\n");
    };
    for (const auto& sec : soundtrack::kSections) {
        char span[64];
        std::snprintf(span, sizeof span, "%d-%d", sec.startMs, sec.endMs);
        row(sec.name, span, sec.drums, soundcheck::sectionStats(series, sec.startMs, sec.endMs, sec.drums));
    }
    row("intro, first 10 s", "0-10000", false, soundcheck::sectionStats(series, 0, 10000, false));
    // All drum sections together.
    soundcheck::BandSeries drums;
    for (size_t i = 0; i < series.ms.size(); ++i)
        for (const auto& sec : soundtrack::kSections)
            if (sec.drums && series.ms[i] >= sec.startMs && series.ms[i] < sec.endMs) {
                drums.ms.push_back(series.ms[i]);
                drums.bands.push_back(series.bands[i]);
            }
    row("all drum sections", "-", true, soundcheck::sectionStats(drums, 0, soundtrack::kLengthMs, false), false);

    printLoudness(pcm);

    std::printf("\n| mark ms | onset ms | strength |\n|---|---|---|\n");
    for (int32_t m : soundtrack::kMarksMs) {
        soundcheck::Onset o = soundcheck::onsetNear(pcm, m);
        std::printf("| %d | %d | %.1f |\n", m, o.ms, o.strength);
    }
    return 0;
}
