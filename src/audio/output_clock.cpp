// output_clock.cpp -- the device clock's arithmetic (see output_clock.h).
#include "audio/output_clock.h"

#include <algorithm>
#include <cmath>

namespace {

// How far the smoothed latency moves towards the median at each reading:
// less than all the way keeps the clock's pace steady while the median
// wavers between neighbouring readings.
constexpr double kEase = 0.5;

}  // namespace

double latencyReading(double bufferMs, double sinkMs, double sdlBufferMs) { return bufferMs + sinkMs + sdlBufferMs; }

void latencyReset(LatencyFilter* filter, double assumedMs) {
    *filter = LatencyFilter{};
    filter->ms = filter->reportedMs = assumedMs;
}

bool latencyAdd(LatencyFilter* filter, double readingMs) {
    filter->recent[filter->next] = readingMs;
    filter->next = (filter->next + 1) % kLatencyWindow;
    filter->count = std::min(filter->count + 1, kLatencyWindow);
    // The median of at most kLatencyWindow: an insertion sort of a copy.
    double sorted[kLatencyWindow];
    for (int i = 0; i < filter->count; ++i) {
        int j = i;
        for (; j > 0 && sorted[j - 1] > filter->recent[i]; --j) sorted[j] = sorted[j - 1];
        sorted[j] = filter->recent[i];
    }
    if (filter->count < kLatencyFirst) return false;
    const double median = sorted[filter->count / 2];
    if (!filter->measured || std::abs(median - filter->ms) > kLatencyJumpMs)
        filter->ms = median;
    else
        filter->ms += kEase * (median - filter->ms);
    filter->measured = true;
    if (std::abs(filter->ms - filter->reportedMs) <= kLatencyJumpMs) return false;
    filter->reportedMs = filter->ms;
    return true;
}

int64_t deviceHeardFrame(int64_t handed, int64_t sinceMicros, double latencyMs, int offsetMs, int rate) {
    const int64_t behind = std::llround(latencyMs * rate / 1000.0);
    const int64_t frame = std::min(handed - behind + sinceMicros * rate / 1000000, handed);
    return frame - int64_t(offsetMs) * rate / 1000;
}
