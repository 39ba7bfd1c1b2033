// bandstats_main.cpp -- prints, per section of the soundtrack, the levels of
// the three spectrum bins the picture reacts to (read at 60 fps through the
// stepped music clock): median, 95th percentile and, where drums play, the
// level on the hits over the level between them. Also the peak level.
//
// Usage: tessera-bandstats [mix.mp3]   (default: music/mix.mp3)
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "marks.h"
#include "soundcheck.h"

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

    std::printf("\n| mark ms | onset ms | strength |\n|---|---|---|\n");
    for (int32_t m : soundtrack::kMarksMs) {
        soundcheck::Onset o = soundcheck::onsetNear(pcm, m);
        std::printf("| %d | %d | %.1f |\n", m, o.ms, o.strength);
    }
    return 0;
}
