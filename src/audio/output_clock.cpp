// output_clock.cpp -- the device clock's arithmetic (see output_clock.h).
#include "audio/output_clock.h"

#include <algorithm>
#include <cmath>

namespace {

// How far from their median readings still count: a sink's saw is well
// inside it, a reading late by a time slice is not.
constexpr double kLatencyNearMs = kLatencyJumpMs / 2;

// The mean of those of `sorted` near its median: a stray reading never
// counts, and a saw counts at its middle.
double nearMean(const double* sorted, int count) {
    const double median = sorted[count / 2];
    double sum = 0;
    int near = 0;
    for (int i = 0; i < count; ++i)
        if (std::abs(sorted[i] - median) <= kLatencyNearMs) {
            sum += sorted[i];
            ++near;
        }
    return sum / near;
}

void sortCopy(const double* from, int count, double* sorted) {
    std::copy(from, from + count, sorted);
    std::sort(sorted, sorted + count);
}

}  // namespace

void handedLineReset(HandedLine* line) { *line = HandedLine{}; }

void handedLineAdd(HandedLine* line, int64_t handed, int64_t atMicros, int rate) {
    const double predicted = handedLineAt(*line, atMicros, rate);
    const double error = double(handed) - predicted;
    if (!line->started || std::abs(error) > kHandedRestartMs * rate / 1000) {
        line->started = true;
        line->callbacks = 1;
        line->frames = double(handed);
    } else {
        // The mean of the callbacks so far, then a running one.
        line->callbacks = std::min(line->callbacks + 1, kHandedSmoothing);
        line->frames = predicted + error / line->callbacks;
    }
    line->atMicros = atMicros;
}

double handedLineAt(const HandedLine& line, int64_t atMicros, int rate) {
    return line.frames + double(std::max<int64_t>(atMicros - line.atMicros, 0)) * rate / 1e6;
}

double latencyReading(double bufferMs, double sinkMs, double sdlBufferMs) { return bufferMs + sinkMs + sdlBufferMs; }

void latencyReset(LatencyFilter* filter, double assumedMs) {
    *filter = LatencyFilter{};
    filter->ms = filter->reportedMs = assumedMs;
}

bool latencyAdd(LatencyFilter* filter, double readingMs) {
    if (filter->count == kLatencyWindow) {
        std::copy(filter->recent + 1, filter->recent + kLatencyWindow, filter->recent);
        --filter->count;
    }
    filter->recent[filter->count++] = readingMs;
    if (filter->count < kLatencyFirst) return false;

    double sorted[kLatencyWindow];
    const int newest = std::min(filter->count, kLatencyRecent);
    double* const recent = filter->recent + filter->count - newest;
    sortCopy(recent, newest, sorted);
    const double median = sorted[newest / 2];
    if (filter->measured && std::abs(median - filter->ms) > kLatencyJumpMs) {
        // Another output: only the newest readings near their median count.
        int kept = 0;
        for (int i = 0; i < newest; ++i)
            if (std::abs(recent[i] - median) <= kLatencyJumpMs) filter->recent[kept++] = recent[i];
        filter->count = kept;
    }
    sortCopy(filter->recent, filter->count, sorted);
    filter->ms = nearMean(sorted, filter->count);
    filter->measured = true;
    if (std::abs(filter->ms - filter->reportedMs) <= kLatencyJumpMs) return false;
    filter->reportedMs = filter->ms;
    return true;
}

int64_t deviceHeardFrame(double lineFrames, int64_t handed, double latencyMs, int offsetMs, int rate) {
    const int64_t behind = std::llround(latencyMs * rate / 1000.0);
    const int64_t frame = std::min(int64_t(std::llround(lineFrames)) - behind, handed);
    return frame - int64_t(offsetMs) * rate / 1000;
}
