// music_stream.h -- the decoded music, shared by the output, the spectrum and
// the tools that read the music itself.
//
// A background thread decodes the whole file into memory as 16-bit stereo
// (the decode of a four-minute piece takes a fraction of a second, and the
// caller never waits for it). What it has published is read without a lock
// from any thread: the audio callback, the main thread's spectrum, tools.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "audio/music.h"

typedef struct mpg123_handle_struct mpg123_handle;

constexpr size_t kChunkFrames = size_t(1) << 16;
constexpr size_t kMaxChunks = 4096;  // about 100 minutes at 44.1 kHz

// A prefix of 16-bit stereo frames that grows while the decoder runs. Chunks
// never move once published, so readers need no lock: they read `frames`
// (acquire) and only touch what lies below it. Every member is either an
// atomic or written once before the decoder thread starts.
struct MusicStream {
    std::atomic<int16_t*> chunks[kMaxChunks] = {};
    std::atomic<uint64_t> frames{0};
    std::atomic<bool> finished{false};
    std::atomic<uint32_t> updates{0};  // bumped after each publish and at the end
    std::atomic<bool> stopDecoding{false};
    mpg123_handle* decoder = nullptr;
    std::string path;
    std::thread thread;
};

// Opens a decoder for 44.1 kHz 16-bit stereo; null with the reason on failure.
mpg123_handle* openDecoder(const char* path, std::string* reason);
// Starts the decoder thread on an opened decoder; the stream owns both.
MusicStream* startDecoding(mpg123_handle* decoder, const char* path);
// A stream made in memory, already whole: silence with a click of a few ms
// at every whole second from 1 to seconds - 1.
MusicStream* makeClickTrack(int seconds);
// Stops the decoder thread and frees the stream. No reader may hold it.
void stopDecoding(MusicStream* stream);

// Copies frames [first, first + count) into dst, zeros where nothing has
// been decoded (before 0, at or past `decoded`, the caller's one reading of
// the decoded length).
void readFrames(const MusicStream* stream, int64_t first, size_t count, int16_t* dst, uint64_t decoded);
// Blocks until the decoder has published `need` frames or finished.
void waitForDecoder(MusicStream* stream, uint64_t need);
