// glide_monitor.cpp -- see glide_monitor.h.
#include "glide_monitor.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "audio/music.h"
#include "audio/spectrum.h"

bool readRecording(FILE* recording, void* into, size_t bytes) {
    size_t got = 0;
    for (ssize_t n = 1; recording && got < bytes && n > 0; got += size_t(std::max<ssize_t>(n, 0)))
        n = read(fileno(recording), static_cast<char*>(into) + got, bytes - got);
    return got == bytes;
}

double recordingWaitingMs(FILE* recording) {
    int waiting = 0;
    if (!recording || ioctl(fileno(recording), FIONREAD, &waiting) != 0) return 0;
    return waiting / 4 * 1000.0 / kMusicRate;
}

double glideEndMs(const int16_t* window) {
    std::vector<float> bins(kSpectrumBins);
    computeSpectrum(window, bins.data());
    int peak = 1;
    for (int k = 1; k < kSpectrumBins - 1; ++k)
        if (bins[k] > bins[peak]) peak = k;
    if (bins[peak] < 0.1f) return -1;
    const double a = std::log(std::max(bins[peak - 1], 1e-9f)), b = std::log(bins[peak]),
                 c = std::log(std::max(bins[peak + 1], 1e-9f));
    const double bin = peak + 0.5 * (a - c) / (a - 2 * b + c);
    return (bin - 20.0) / 8.0 * 1000 + 500.0 * kSpectrumWindow / kMusicRate;
}

double clockAheadOf(double clock, double heardMs) {
    return clock - (heardMs + 30000 * std::round((clock - heardMs) / 30000));
}

double sinkLatencyNowMs() {
    FILE* pipe = popen("pactl list sink-inputs 2>/dev/null", "r");
    double latency = -1, micros = 0;
    for (char line[256]; pipe && std::fgets(line, sizeof line, pipe);)
        if (std::sscanf(line, " Sink Latency: %lf", &micros) == 1) latency = micros / 1000;
    if (pipe) pclose(pipe);
    return latency;
}

double medianMs(std::vector<double> samples) {
    if (samples.empty()) return 0;
    std::nth_element(samples.begin(), samples.begin() + long(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}
