// output_clock.h -- the arithmetic of the device clock, apart from any device:
// how far behind the frames handed to the output the sound is heard, and
// where that puts the frame heard now.
//
// The latency is the time from handing a frame to SDL to its being heard.
// Readings of it come a few times a second from the sound server and jitter
// with the server's block sizes and with scheduling; a stray one may be late
// by a whole time slice, and the first ones of a new stream are wild (the
// server fills its buffer). The filter waits for three readings, takes the
// median of the last five (a stray reading never moves it), and goes half
// the way towards it at each reading, except that a jump of more than
// kLatencyJumpMs (the stream moved to another output) is taken at once. A
// change of more than kLatencyJumpMs since the value last told to the user
// is told again.
#pragma once

#include <cstdint>

constexpr int kLatencyWindow = 5;
constexpr int kLatencyFirst = 3;  // readings before the first is trusted
constexpr double kLatencyJumpMs = 50;

struct LatencyFilter {
    double ms = 0;          // what the clock counts now
    double reportedMs = 0;  // what the user was last told (or assumed)
    bool measured = false;  // enough readings have come since the reset
    double recent[kLatencyWindow] = {};
    int count = 0;  // readings in `recent`, at most kLatencyWindow
    int next = 0;   // where the next one goes
};

// One reading of the latency through a sound server, from what the server
// reports for our stream: what it holds (`bufferMs`) and the sink's own
// latency (`sinkMs`). SDL hands the server the buffer that a callback
// filled only as fast as the server asks for it, and the server keeps its
// own buffer topped up to the level it chose: so SDL's buffer goes over piece
// by piece in step with what is played, and counts whole whenever the
// reading is taken.
double latencyReading(double bufferMs, double sinkMs, double sdlBufferMs);

// Starts over with a latency assumed until the first reading (SDL's own
// buffer, the most that is known without a server).
void latencyReset(LatencyFilter* filter, double assumedMs);
// Adds a reading; true when the latency has moved more than kLatencyJumpMs
// from what was last told, which it now is.
bool latencyAdd(LatencyFilter* filter, double readingMs);

// The frame heard now on the device clock: the frames handed over at the
// last callback, less the latency, plus the time since; never beyond what
// was handed over. `offsetMs` (positive: the picture later) moves it back.
int64_t deviceHeardFrame(int64_t handed, int64_t sinceMicros, double latencyMs, int offsetMs, int rate);
