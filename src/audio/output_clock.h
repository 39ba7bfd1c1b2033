// output_clock.h -- the arithmetic of the device clock, apart from any device:
// where the frames handed to the output stand now, how far behind them the
// sound is heard, and so which frame is heard now.
//
// The frames handed over. SDL asks for a buffer each time the sound server
// has taken the last one, and the server takes on its own grid of requests
// (every 20 ms, say, against 23.2 ms of buffer): so callbacks come 20, 20,
// 20, 40 ms apart, and a clock that counts from the last one saws back and
// forth by a request's length. The handed line smooths them: the frames
// handed run at the music's rate, and each callback moves the line a
// sixteenth of the way to where it says they stand. A callback that lies
// further than kHandedRestartMs off the line (a stall, a reopen, a seek)
// starts it again there.
//
// The latency is the time from a frame's being handed over to its being
// heard. Readings of it come a few times a second from the sound server.
// Part of it saws as well (the sink's own latency, between two of its
// blocks), a stray reading may be late by a whole time slice, and the first
// ones of a new stream are wild (the server fills its buffer). The filter
// waits for three readings, then takes the mean of those of the last
// kLatencyWindow (two seconds) that lie within half of kLatencyJumpMs of
// their median: strays are left out and the saw averages to its middle. When the median of the newest five lies more than
// kLatencyJumpMs off (the stream moved to another output), the filter starts
// again from them at once. A change of more than kLatencyJumpMs since the
// value last told to the user is told again.
#pragma once

#include <cstdint>

constexpr int kHandedSmoothing = 16;    // callbacks the line averages over
constexpr double kHandedRestartMs = 100;

struct HandedLine {
    bool started = false;
    int callbacks = 0;      // since the start, at most kHandedSmoothing
    int64_t atMicros = 0;   // the last callback
    double frames = 0;      // where the line stood then
};

constexpr int kLatencyWindow = 20;
constexpr int kLatencyRecent = 5;  // the readings a jump is judged on
constexpr int kLatencyFirst = 3;   // readings before the first is trusted
constexpr double kLatencyJumpMs = 50;

struct LatencyFilter {
    double ms = 0;          // what the clock counts now
    double reportedMs = 0;  // what the user was last told (or assumed)
    bool measured = false;  // enough readings have come since the reset
    double recent[kLatencyWindow] = {};  // oldest first
    int count = 0;                       // readings in `recent`
};

// Starts the line over: the next callback sets it.
void handedLineReset(HandedLine* line);
// A callback: `handed` frames had been handed over by `atMicros`.
void handedLineAdd(HandedLine* line, int64_t handed, int64_t atMicros, int rate);
// Where the line stands at `atMicros` (not before its start).
double handedLineAt(const HandedLine& line, int64_t atMicros, int rate);

// One reading of the latency through a sound server, from what the server
// reports for our stream: what it holds (`bufferMs`) and the sink's own
// latency (`sinkMs`). SDL hands the server the buffer that a callback
// filled only as fast as the server asks for it, and the handed line runs
// through the callbacks, where the whole of that buffer is still SDL's: so
// SDL's buffer counts whole.
double latencyReading(double bufferMs, double sinkMs, double sdlBufferMs);

// Starts over with a latency assumed until the first reading (SDL's own
// buffer, the most that is known without a server).
void latencyReset(LatencyFilter* filter, double assumedMs);
// Adds a reading; true when the latency has moved more than kLatencyJumpMs
// from what was last told, which it now is.
bool latencyAdd(LatencyFilter* filter, double readingMs);

// The frame heard now on the device clock: the handed line now
// (`lineFrames`), less the latency; never beyond what was really handed
// over (`handed`). `offsetMs` (positive: the picture later) moves it back.
int64_t deviceHeardFrame(double lineFrames, int64_t handed, double latencyMs, int offsetMs, int rate);
