// glide_monitor.h -- the position heard through a null sink, read from its
// monitor while the test glide plays: for tessera-bench-sync and the
// sound-server test, which must measure alike.
//
// The glide's frequency rises 8 bins a second from bin 20 and repeats every
// 30 s, so the spectrum of the recording's newest window tells the position
// recorded. Two things stand between that and the position heard:
// - what the recorder has sent that this process has not read yet: the
//   recording is read past stdio (whose buffer would hide up to 23 ms of it)
//   and what still waits in the pipe is counted;
// - the sink's own latency. The monitor gets each block as the sink renders
//   it, which is that latency before the block is heard (a real device's
//   monitor alike: its latency is the time to the speaker). It saws with the
//   sink's blocks, so it is sampled at many moments and the median taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// Reads exactly `bytes` from the recording into `into`, past stdio's
// buffer; false at its end.
bool readRecording(FILE* recording, void* into, size_t bytes);

// How much of the recording already waits in the pipe, in ms.
double recordingWaitingMs(FILE* recording);

// The glide's position (ms into its 30 s) at the end of a spectrum window of
// stereo frames (the frequency is the glide's at the window's middle); the
// peak's place between bins is read off a parabola through the log
// magnitudes. Negative for silence.
double glideEndMs(const int16_t* window);

// Of `clock` and a position heard within 30 s of it, how far the clock is
// ahead (ms): the glide's round is the one nearest the clock.
double clockAheadOf(double clock, double heardMs);

// Our stream's sink latency (ms) as the server reports it now (the only
// stream playing on the server), or -1 when none is listed.
double sinkLatencyNowMs();

// The median of `samples`, or 0 when there are none.
double medianMs(std::vector<double> samples);
