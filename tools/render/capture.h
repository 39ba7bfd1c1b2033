// capture.h -- the offline renderer's video and sound capture.
//
// The frame loop hands over each finished frame with captureFrame; the
// picture is read back through two pixel buffers (the read of frame k is
// collected while frame k + 1 is drawn) and encoded with the frame's sound on
// a thread of its own, so rendering and encoding overlap. Frame k of the demo
// carries the music's frames [k * rate / fps, (k + 1) * rate / fps), so the
// sound at time t of the file is the music at time t of the range.
#pragma once

#include <string>

#include "media_file.h"

// Opens the files (either path may be empty) before any frame is drawn, so
// that an unwritable path is found at once. `width` x `height` is the
// framebuffer's size.
bool captureOpen(const std::string& videoPath, const std::string& wavPath, int width, int height, int fps,
                 std::string* reason, const MediaOptions& media = {});

// True between captureOpen and captureFinish or captureDiscard.
bool captureIsOpen();

// Called with frame `frameIndex` of the demo finished in the framebuffer.
// Waits while the encoder is several frames behind.
void captureFrame(long frameIndex);

// True, with the reason, once writing has failed (a full disk, say).
bool captureFailed(std::string* reason);

struct CaptureSummary {
    long frames = 0;  // frames written to the files
    long long videoBytes = 0;
    long long wavBytes = 0;
};

// Writes the frame still being read back, drains the encoders and closes
// the files. A capture that holds no frame is removed and counts as a
// failure. On failure the files are removed and the reason given.
bool captureFinish(CaptureSummary* summary, std::string* reason);

// Stops at once and removes the files.
void captureDiscard();
