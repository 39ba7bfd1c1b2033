// media_file.h -- one capture file written through FFmpeg's libraries.
//
// A video file holds H.264 (yuv420p, constant frame rate) and AAC in the
// container its name ends in: MP4 (the index at the front, so that it plays
// at once when streamed), Matroska or QuickTime; a sound
// file is a 16-bit PCM WAV. Pictures come in as the framebuffer gives them
// (BGRA, bottom row first), sound as the music layer gives it (interleaved
// 16-bit stereo at the music's rate). Not thread-safe: one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "presets.h"

struct MediaFile;
struct AVCodecParameters;
struct AVPacket;
struct AVRational;

enum class MediaKind { Video, Sound };

// The libavformat container for a video file's name: "mp4", "matroska" or
// "mov" by its extension (.mp4, .mkv, .mov, any case), "mp4" for a name
// without one; null for any other extension (.mka, .avi, ...).
const char* mediaVideoContainer(const std::string& path);

// How a video file is written beyond its size and rate.
struct MediaOptions {
    Preset preset = Preset::Default;
    bool sound = true;  // false: a piece of a split render, video alone
    // Set for a join: the video packets are copied in with mediaWritePacket,
    // in this codec as encoded elsewhere, and never encoded here.
    const AVCodecParameters* copiedVideo = nullptr;
    // When set, stored in the container as the tag TESSERA_PIECE.
    std::string pieceTag;
};

// Opens (creates or truncates) the file and writes its header. Returns null
// with the reason when the file cannot be written or an encoder is missing.
MediaFile* mediaOpen(const std::string& path, MediaKind kind, int width, int height, int fps,
                     std::string* reason, const MediaOptions& media = {});

// A copied video packet, stamped in `timeBase`, for a file opened with
// copiedVideo. The packet is consumed.
bool mediaWritePacket(MediaFile* file, AVPacket* packet, AVRational timeBase, std::string* reason);

// The next picture: width * height BGRA pixels, bottom row first.
bool mediaWritePicture(MediaFile* file, const uint8_t* bgraBottomUp, std::string* reason);

// The next `frames` stereo frames of sound.
bool mediaWriteSound(MediaFile* file, const int16_t* samples, int frames, std::string* reason);

// Drains the encoders, writes the index and closes the file; frees `file`.
// *bytes gets the size of the finished file. On failure the file is
// discarded as by mediaDiscard.
bool mediaFinish(MediaFile* file, long long* bytes, std::string* reason);

// Closes without finishing and removes what was written when it is a plain
// file (never a device such as /dev/full); frees `file`.
void mediaDiscard(MediaFile* file);
