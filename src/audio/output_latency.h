// output_latency.h -- the latency of the sound server's output, read from the
// server itself over a side connection of our own.
//
// SDL plays through a sound server that holds what it was handed for a
// while (its buffer for our stream, then the sink's own latency: a few tens
// of ms on speakers, hundreds on Bluetooth headphones). SDL does not tell
// how much; the server does, for every stream it plays. A thread of this
// module connects to the same server SDL uses, finds our own stream among
// those it plays (by the process id it carries) a few times a second, and
// hands each reading to the caller. It follows the stream wherever the
// server moves it, and reconnects after the server has gone and come back.
#pragma once

#include <chrono>

// Called on the watcher's thread with what the server holds of our stream
// and the sink's latency (ms), and when the answer came.
using OutputLatencyReading = void (*)(double bufferMs, double sinkMs, std::chrono::steady_clock::time_point at);

// Starts the watcher if the process plays through a PulseAudio server
// (PipeWire's included); false if it cannot run here (no libpulse server
// reachable is not a failure: it keeps trying).
bool outputLatencyStart(OutputLatencyReading reading);
// Stops the watcher; returns at once if it never started.
void outputLatencyStop();
