// music.h -- tessera's music stream: playback, the music clock, the spectrum.
//
// One operation per step of the demo's audio sequence, called in this order
// from the main thread:
//
//   musicInit(44100)                 open the audio output
//   musicOpen("music/mix.mp3")       open the stream, decoding in the background
//   musicSetTime(stream, 0)          position in ms
//   musicPlay(stream)                playback starts at once, plays once
//   musicEnableSpectrum()            the spectrum follows the music from now on
//   musicSpectrum()                  pointer to the 512 magnitudes, refreshed
//   musicGetTime(stream)             position in ms of the music heard so far
//   musicClose(stream), musicShutdown()
//
// The device clock counts what the output holds after the frames were handed
// to it: SDL's buffer, and, through a sound server (PulseAudio, PipeWire),
// the server's own buffer and the sink's latency as the server reports them
// a few times a second. Without an audio device the same clock runs
// silently in real time. Past the end of the music the clock keeps running
// and the spectrum reads 0.
//
// The stepped clock (musicUseSteppedClock before musicInit) opens no device:
// the caller sets the position with musicSetSteppedTime, and the spectrum is
// computed from the decoded samples at exactly that position, so offline
// renders and tests repeat bit for bit.
#pragma once

#include <cstdint>
#include <string>

struct MusicStream;

constexpr int kMusicRate = 44100;

bool musicInit(int rate);
MusicStream* musicOpen(const char* path);
void musicSetTime(MusicStream* stream, int ms);
void musicPlay(MusicStream* stream);
void musicEnableSpectrum();
const float* musicSpectrum();
int musicGetTime(MusicStream* stream);
void musicClose(MusicStream* stream);
void musicShutdown();

// Shows the picture `ms` later (negative: earlier) than the sound the output
// reports it plays, for outputs that report their latency wrongly. Call
// before musicPlay; the device clock alone is moved.
void musicSetOutputOffset(int ms);

// A stream of silence, `seconds` long, with a short click at every whole
// second from the first to the last but one: the player's --sync-check.
MusicStream* musicOpenClickTrack(int seconds);

// Offline rendering and tests.
void musicUseSteppedClock();
void musicSetSteppedTime(int ms);

// Checks that a file opens and decodes as MP3, without playing it. On failure
// returns false and puts the reason in *reason.
bool musicFileIsPlayable(const char* path, std::string* reason);

// Decoded length in frames; blocks until the whole stream is decoded.
long long musicDecodedFrames(MusicStream* stream);

// Copies frames [first, first + count) as interleaved 16-bit stereo, zeros
// outside the music; waits for the decoder to reach them. For tools that
// measure the music itself.
void musicReadFrames(MusicStream* stream, long long first, long long count, int16_t* dst);
