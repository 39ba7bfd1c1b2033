// presets.cpp -- names, containers and the web preset's rate caps.
#include "presets.h"

#include <cstring>

namespace {

const char* const kNames[] = {"default", "web", "archive"};

}  // namespace

bool presetByName(const std::string& name, Preset* preset) {
    for (int i = 0; i < 3; ++i)
        if (name == kNames[i]) {
            *preset = Preset(i);
            return true;
        }
    return false;
}

const char* presetName(Preset preset) { return kNames[int(preset)]; }

std::string presetContainerProblem(Preset preset, const char* container) {
    // FFV1 and FLAC have no standard place in MP4 or QuickTime: players
    // would refuse the file or drop the sound.
    if (preset == Preset::Archive && std::strcmp(container, "matroska"))
        return "the archive preset (FFV1 and FLAC) is written to Matroska only: name the file .mkv";
    return {};
}

long webBitRateCap(int width, int height, int fps) {
    // Classed by the shorter side's usual name: a 4:3 1440 x 1080 is 1080p.
    const int lines = width < height ? width : height;
    const bool high = fps > 30;
    struct Step {
        int lines;
        long standard, highRate;
    };
    static const Step steps[] = {
        {2160, 45000000, 68000000}, {1440, 16000000, 24000000}, {1080, 8000000, 12000000},
        {720, 5000000, 7500000},    {480, 2500000, 4000000},    {0, 1000000, 1500000},
    };
    for (const Step& step : steps)
        if (lines >= step.lines) return high ? step.highRate : step.standard;
    return 1500000;
}
