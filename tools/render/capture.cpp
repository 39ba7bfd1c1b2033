// capture.cpp -- read-back, queue and encoding thread of the capture.
#include "capture.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/music.h"
#include "media_file.h"
#include "state/demo_state.h"

namespace {

// Frames that may be on their way to the encoder at once: enough to ride
// over an expensive keyframe, few enough to bound the memory.
constexpr int kFramesInFlight = 4;

// One frame on its way to the files: its picture and its share of the music.
struct CaptureItem {
    std::vector<uint8_t> picture;  // BGRA, bottom row first
    std::vector<int16_t> sound;    // interleaved stereo
    int soundFrames = 0;
};

struct Capture {
    MediaFile* video = nullptr;
    MediaFile* wav = nullptr;
    int width = 0, height = 0, fps = 60;
    long framesQueued = 0;

    GLuint pixelBuffers[2] = {0, 0};
    int nextBuffer = 0;
    CaptureItem* reading = nullptr;  // its picture is still in pixelBuffers[1 - nextBuffer]

    CaptureItem items[kFramesInFlight];
    std::mutex lock;
    std::condition_variable changed;
    std::deque<CaptureItem*> free, queued;
    bool stopping = false;
    bool failed = false;
    std::string failure;
    std::thread encoder;
};

Capture* capture = nullptr;

// The encoding thread: writes each queued frame to the files in order. After
// a failure it only hands the frames back, so the frame loop never waits on
// it, and the loop learns of the failure through captureFailed.
void encodeQueued() {
    std::unique_lock hold(capture->lock);
    for (;;) {
        capture->changed.wait(hold, [] { return capture->stopping || !capture->queued.empty(); });
        if (capture->queued.empty()) return;
        CaptureItem* item = capture->queued.front();
        capture->queued.pop_front();
        const bool skip = capture->failed;
        hold.unlock();
        std::string reason;
        bool ok = true;
        if (!skip && capture->video) {
            ok = mediaWritePicture(capture->video, item->picture.data(), &reason) &&
                 mediaWriteSound(capture->video, item->sound.data(), item->soundFrames, &reason);
        }
        if (!skip && ok && capture->wav) ok = mediaWriteSound(capture->wav, item->sound.data(), item->soundFrames, &reason);
        hold.lock();
        if (!ok && !capture->failed) {
            capture->failed = true;
            capture->failure = reason;
        }
        capture->free.push_back(item);
        capture->changed.notify_all();
    }
}

// Collects the picture read back into the buffer last written and queues the
// frame for the encoder.
void queueReading() {
    CaptureItem* item = capture->reading;
    if (!item) return;
    capture->reading = nullptr;
    if (capture->video) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, capture->pixelBuffers[1 - capture->nextBuffer]);
        const void* pixels = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(item->picture.size()), GL_MAP_READ_BIT);
        if (pixels) std::memcpy(item->picture.data(), pixels, item->picture.size());
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        if (!pixels) {
            std::lock_guard hold(capture->lock);
            capture->failed = true;
            capture->failure = "cannot read the picture back from OpenGL";
        }
    }
    std::lock_guard hold(capture->lock);
    capture->queued.push_back(item);
    ++capture->framesQueued;
    capture->changed.notify_all();
}

// Joins the encoding thread once everything queued has been dealt with.
void stopEncoder() {
    {
        std::lock_guard hold(capture->lock);
        capture->stopping = true;
        capture->changed.notify_all();
    }
    if (capture->encoder.joinable()) capture->encoder.join();
}

void closeCapture() {
    if (capture->pixelBuffers[0]) glDeleteBuffers(2, capture->pixelBuffers);
    delete capture;
    capture = nullptr;
}

}  // namespace

bool captureOpen(const std::string& videoPath, const std::string& wavPath, int width, int height, int fps,
                 std::string* reason, const MediaOptions& media) {
    capture = new Capture;
    capture->width = width;
    capture->height = height;
    capture->fps = fps;
    if (!videoPath.empty() && !(capture->video = mediaOpen(videoPath, MediaKind::Video, width, height, fps, reason, media))) {
        closeCapture();
        return false;
    }
    if (!wavPath.empty() && !(capture->wav = mediaOpen(wavPath, MediaKind::Sound, 0, 0, fps, reason))) {
        if (capture->video) mediaDiscard(capture->video);
        closeCapture();
        return false;
    }
    const int mostSound = kMusicRate / fps + 1;
    for (CaptureItem& item : capture->items) {
        if (capture->video) item.picture.resize(size_t(width) * height * 4);
        item.sound.resize(size_t(mostSound) * 2);
        capture->free.push_back(&item);
    }
    capture->encoder = std::thread(encodeQueued);
    return true;
}

bool captureIsOpen() { return capture != nullptr; }

void captureFrame(long frameIndex) {
    CaptureItem* item = nullptr;
    {
        std::unique_lock hold(capture->lock);
        capture->changed.wait(hold, [] { return !capture->free.empty(); });
        item = capture->free.front();
        capture->free.pop_front();
    }
    // The sound is taken now: the music stream is gone once the schedule
    // has ended the demo, which happens right after the last frame.
    const long long first = (long long)frameIndex * kMusicRate / capture->fps;
    const long long next = (long long)(frameIndex + 1) * kMusicRate / capture->fps;
    item->soundFrames = int(next - first);
    musicReadFrames(musicStream, first, item->soundFrames, item->sound.data());
    if (capture->video) {
        if (!capture->pixelBuffers[0]) {
            glGenBuffers(2, capture->pixelBuffers);
            for (GLuint buffer : capture->pixelBuffers) {
                glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
                glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(item->picture.size()), nullptr, GL_STREAM_READ);
            }
        }
        glBindBuffer(GL_PIXEL_PACK_BUFFER, capture->pixelBuffers[capture->nextBuffer]);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, capture->width, capture->height, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    queueReading();  // the previous frame, read back while this one was drawn
    capture->reading = item;
    capture->nextBuffer = 1 - capture->nextBuffer;
}

bool captureFailed(std::string* reason) {
    std::lock_guard hold(capture->lock);
    if (capture->failed && reason) *reason = capture->failure;
    return capture->failed;
}

bool captureFinish(CaptureSummary* summary, std::string* reason) {
    queueReading();
    stopEncoder();
    bool ok = !capture->failed;
    if (!ok) *reason = capture->failure;
    if (ok && capture->framesQueued == 0) {
        ok = false;
        *reason = "no frame lies in the range; nothing was written";
    }
    summary->frames = capture->framesQueued;
    const bool queuedOk = ok;
    if (capture->video) {
        if (ok) ok = mediaFinish(capture->video, &summary->videoBytes, reason);
        else mediaDiscard(capture->video);
        capture->video = nullptr;
    }
    if (capture->wav) {
        if (ok) ok = mediaFinish(capture->wav, &summary->wavBytes, reason);
        else mediaDiscard(capture->wav);
        capture->wav = nullptr;
    }
    closeCapture();
    if (queuedOk && !ok) *reason += "; the unfinished file was deleted";
    return ok;
}

void captureDiscard() {
    {
        std::lock_guard hold(capture->lock);
        capture->failed = true;  // the encoder only hands frames back now
    }
    stopEncoder();
    if (capture->video) mediaDiscard(capture->video);
    if (capture->wav) mediaDiscard(capture->wav);
    closeCapture();
}
