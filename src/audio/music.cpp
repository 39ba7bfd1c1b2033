// music.cpp -- the music stream on libmpg123, SDL2 audio and the spectrum.
//
// A background thread decodes the whole file into memory as 16-bit stereo
// (the decode of a four-minute piece takes a fraction of a second, and the
// caller never waits for it). The audio callback plays from that memory, and
// the spectrum reads the same samples at the position being heard. Three
// clocks share one interface: the audio device's (frames handed to the
// device, less the buffer it holds), a silent real-time clock when there is
// no device, and the stepped clock that offline rendering sets by hand.
#include "audio/music.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <mpg123.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "audio/spectrum.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunkFrames = size_t(1) << 16;
constexpr size_t kMaxChunks = 4096;  // about 100 minutes at 44.1 kHz
constexpr int kDeviceBufferFrames = 1024;
constexpr int kMaxFailedFrames = 64;
// How long a playing device may go without asking for samples before it
// counts as gone (a sound server that hangs says nothing): far beyond its
// callback period, and more until it has taken its first half second, since
// a sound server on a busy machine may take a second or two to settle. A
// false alarm would silence the rest of the demo.
constexpr auto kDeviceStall = std::chrono::milliseconds(2000);
constexpr auto kDeviceStartStall = std::chrono::milliseconds(6000);

}  // namespace

// The decoded music: a prefix of 16-bit stereo frames that grows while the
// decoder runs. Chunks never move once published, so readers need no lock:
// they read `frames` (acquire) and only touch what lies below it.
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

namespace {

enum class ClockKind { Device, Silent, Stepped };

// The output side and the clock. Only the audio callback writes `cursor` and
// the snapshot while playing; the main thread reads the snapshot under the
// lock.
struct MusicOutput {
    ClockKind kind = ClockKind::Device;
    bool steppedRequested = false;
    bool sdlAudioUp = false;
    SDL_AudioDeviceID device = 0;
    int rate = kMusicRate;
    int bufferFrames = kDeviceBufferFrames;

    std::atomic<MusicStream*> playing{nullptr};
    uint64_t cursor = 0;  // frames handed to the device (callback side)
    std::mutex snapshotLock;
    uint64_t snapshotCursor = 0;
    Clock::time_point snapshotTime{};
    bool snapshotValid = false;

    uint64_t startFrame = 0;  // musicSetTime
    bool started = false;
    bool deviceStalled = false;  // lost without a word from SDL: do not wait on it
    Clock::time_point silentStart{};
    int steppedMs = 0;
    uint64_t lastHeard = 0;  // keeps the clock monotonic

    bool spectrumOn = false;
    float spectrum[kSpectrumBins] = {};
    int16_t window[kSpectrumWindow * 2] = {};
};

MusicOutput out;

// alsa-lib prints its own errors (one per device it tries) when there is no
// sound card; our one line says what matters.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Copies frames [first, first + count) into dst, zeros where nothing has
// been decoded (before 0, past the end, or not yet).
void readFrames(const MusicStream* stream, int64_t first, size_t count, int16_t* dst) {
    const int64_t available = int64_t(stream->frames.load(std::memory_order_acquire));
    for (size_t i = 0; i < count;) {
        const int64_t frame = first + int64_t(i);
        if (frame < 0 || frame >= available) {
            dst[2 * i] = dst[2 * i + 1] = 0;
            ++i;
            continue;
        }
        const size_t chunk = size_t(frame) / kChunkFrames, offset = size_t(frame) % kChunkFrames;
        const size_t run = std::min({count - i, kChunkFrames - offset, size_t(available - frame)});
        const int16_t* src = stream->chunks[chunk].load(std::memory_order_relaxed) + 2 * offset;
        std::memcpy(dst + 2 * i, src, run * 4);
        i += run;
    }
}

// Whether a decoded frame belongs to the stream. In a damaged file, garbage
// now and then looks like a frame header and decodes as a burst of loud
// noise; a real frame shares the stream's MPEG version, layer, rate and
// channel mode, and in a constant-bitrate stream its bitrate.
bool sameStream(const mpg123_frameinfo& frame, const mpg123_frameinfo& stream) {
    return frame.version == stream.version && frame.layer == stream.layer && frame.rate == stream.rate &&
           frame.mode == stream.mode && (stream.vbr != MPG123_CBR || frame.bitrate == stream.bitrate);
}

// Appends decoded frames to the stream's chunks and publishes them.
void publish(MusicStream* stream, const int16_t* samples, size_t count, uint64_t* total) {
    for (size_t done = 0; done < count;) {
        const size_t chunk = size_t(*total / kChunkFrames), offset = size_t(*total % kChunkFrames);
        if (chunk >= kMaxChunks) break;
        int16_t* dst = stream->chunks[chunk].load(std::memory_order_relaxed);
        if (!dst) {
            dst = new int16_t[kChunkFrames * 2];
            stream->chunks[chunk].store(dst, std::memory_order_relaxed);
        }
        const size_t run = std::min(count - done, kChunkFrames - offset);
        std::memcpy(dst + 2 * offset, samples + 2 * done, run * 4);
        done += run;
        *total += run;
    }
    stream->frames.store(*total, std::memory_order_release);
    stream->updates.fetch_add(1, std::memory_order_release);
    stream->updates.notify_all();
}

// Blocks until the decoder has published `need` frames or finished. The
// waiter sleeps on the update count it read before looking, so an update
// that lands between the look and the sleep (the decoder's end included)
// still wakes it.
void waitForDecoder(MusicStream* stream, uint64_t need) {
    for (;;) {
        const uint32_t seen = stream->updates.load(std::memory_order_acquire);
        if (stream->finished.load(std::memory_order_acquire) ||
            stream->frames.load(std::memory_order_acquire) >= need)
            return;
        stream->updates.wait(seen, std::memory_order_acquire);
    }
}

// Decodes frame by frame until the end of the file (or until asked to
// stop), publishing each frame as soon as it is stored. Damage is skipped
// however long it is: the decoder searches on to the next frame, so the
// music after a damaged stretch still plays, and frames that garbage only
// pretends to be are left out. The first damage (bytes between frames, or
// a frame left out) is reported in one line.
void decodeAll(MusicStream* stream) {
    mpg123_param(stream->decoder, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_frameinfo first{};
    bool haveFirst = false, damaged = false;
    int failures = 0;
    long long nextFrameAt = -1;  // byte offset where the next frame should start
    uint64_t total = 0;
    const auto seconds = [&] { return double(total) / kMusicRate; };
    while (!stream->stopDecoding.load(std::memory_order_relaxed) && total < kChunkFrames * kMaxChunks) {
        off_t number = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int result = mpg123_decode_frame(stream->decoder, &number, &audio, &bytes);
        if (result == MPG123_DONE) break;
        // An error that repeats without a frame in between (a read error)
        // ends the music where it is.
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
            if (++failures < kMaxFailedFrames) continue;
            std::fprintf(stderr, "tessera: cannot read \"%s\" past %.1f s (%s); the music ends there\n",
                         stream->path.c_str(), seconds(), mpg123_strerror(stream->decoder));
            break;
        }
        failures = 0;
        if (bytes == 0 || audio == nullptr) continue;
        mpg123_frameinfo info{};
        if (mpg123_info(stream->decoder, &info) != MPG123_OK) continue;
        const long long at = mpg123_framepos(stream->decoder);
        const bool skipped = nextFrameAt >= 0 && at != nextFrameAt;
        nextFrameAt = at + info.framesize;
        if (!haveFirst) {
            first = info;
            haveFirst = true;
        }
        const bool belongs = sameStream(info, first);
        if ((skipped || !belongs) && !damaged) {
            damaged = true;
            std::fprintf(stderr, "tessera: \"%s\" is damaged %.1f s in; the music plays on from the next good frame\n",
                         stream->path.c_str(), seconds());
        }
        if (belongs) publish(stream, reinterpret_cast<const int16_t*>(audio), bytes / 4, &total);
    }
    stream->finished.store(true, std::memory_order_release);
    stream->updates.fetch_add(1, std::memory_order_release);
    stream->updates.notify_all();
}

// Opens a decoder for 44.1 kHz 16-bit stereo, whatever the file's own rate
// and channels (libmpg123 converts), with gapless decoding so that the
// encoder's delay and padding are trimmed: position 0 is the first sample.
// The file is opened twice: first as it is, to read its Xing or LAME tag.
// A tag that claims more frames than the file could hold (every frame takes
// more than 4 bytes) is garbage, and libmpg123 (1.31) can spend minutes
// opening such a file as it trims to the claimed length: the tag is then
// ignored, and the damaged file plays untrimmed.
mpg123_handle* openDecoder(const char* path, std::string* reason) {
    static const bool initialised = mpg123_init() == MPG123_OK;
    (void)initialised;
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (!handle) {
        *reason = mpg123_plain_strerror(error);
        return nullptr;
    }
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    long rate = 0;
    int channels = 0, encoding = 0;
    bool opened = false;
    for (int pass = 0; pass < 2; ++pass) {
        errno = 0;
        if (mpg123_open(handle, path) != MPG123_OK) {
            *reason = errno ? std::strerror(errno) : mpg123_strerror(handle);
            break;
        }
        if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK) {
            *reason = std::string("not a playable MP3 file (") + mpg123_strerror(handle) + ")";
            break;
        }
        if (pass == 1) {
            opened = true;
            break;
        }
        const off_t claimedFrames = mpg123_framelength(handle);
        mpg123_close(handle);
        struct stat info;
        if (stat(path, &info) != 0 || claimedFrames > info.st_size / 4)
            mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_IGNORE_INFOFRAME, 0);
        mpg123_format_none(handle);
        mpg123_format(handle, kMusicRate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (!opened) {
        mpg123_delete(handle);
        return nullptr;
    }
    return handle;
}

// The audio thread: hands the device the next frames of the music, silence
// past its end (the clock keeps running on it), and notes when it did.
void fillDevice(void*, Uint8* bytes, int length) {
    auto* dst = reinterpret_cast<int16_t*>(bytes);
    const size_t count = size_t(length) / 4;
    MusicStream* stream = out.playing.load(std::memory_order_acquire);
    if (!stream) {
        std::memset(bytes, 0, size_t(length));
        return;
    }
    const bool finished = stream->finished.load(std::memory_order_acquire);
    const uint64_t available = stream->frames.load(std::memory_order_acquire);
    readFrames(stream, int64_t(out.cursor), count, dst);
    // While the decoder is behind (it never is in practice), wait for it
    // rather than let the clock run over music that was not heard.
    const uint64_t advance =
        finished ? count : std::min<uint64_t>(count, available > out.cursor ? available - out.cursor : 0);
    out.cursor += advance;
    std::lock_guard lock(out.snapshotLock);
    out.snapshotCursor = out.cursor;
    out.snapshotTime = Clock::now();
    out.snapshotValid = true;
}

// Main thread, while the device clock runs: why the output has gone away,
// or null while it plays. SDL reports a device or sound server that
// disappears (a restarted server, an unplugged headset) as stopped; a
// server that hangs only shows as callbacks that stop coming.
const char* outputLostReason(bool* stalled) {
    *stalled = false;
    if (SDL_GetAudioDeviceStatus(out.device) == SDL_AUDIO_STOPPED) return "the device was disconnected";
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(out.snapshotLock);
    const bool settled = out.snapshotValid && out.snapshotCursor >= out.startFrame + uint64_t(out.rate / 2);
    *stalled = settled ? now - out.snapshotTime > kDeviceStall
                       : now - (out.snapshotValid ? out.snapshotTime : out.silentStart) > kDeviceStartStall;
    return *stalled ? "it stopped taking samples" : nullptr;
}

// Once the output is gone the clock runs on in real time from the position
// it had reached, as it does when there is no device at all, so the demo
// keeps moving and still ends on time. The device is paused, so a server
// that comes back does not start playing out of step.
void fallBackToSilentClock(const char* why, bool stalled) {
    std::fprintf(stderr, "tessera: the audio output went away (%s); the music plays on silently on a real-time clock\n",
                 why);
    SDL_PauseAudioDevice(out.device, 1);
    out.deviceStalled = stalled;
    out.kind = ClockKind::Silent;
    out.startFrame = out.lastHeard;
    out.silentStart = Clock::now();
}

// The frame being heard now. The device's clock: the frames handed over at
// the last callback, less the buffer the device still holds, plus the time
// since then, never beyond what was handed over and never going back.
uint64_t heardFrame() {
    int64_t frame = 0;
    switch (out.kind) {
        case ClockKind::Stepped:
            frame = int64_t(out.steppedMs) * out.rate / 1000;
            return uint64_t(std::max<int64_t>(frame, 0));
        case ClockKind::Silent:
            if (!out.started) return out.startFrame;
            frame = int64_t(out.startFrame) +
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - out.silentStart).count() *
                        out.rate / 1000000;
            break;
        case ClockKind::Device: {
            std::lock_guard lock(out.snapshotLock);
            if (!out.snapshotValid) {
                frame = int64_t(std::max(out.startFrame, out.lastHeard));
                break;
            }
            const int64_t handed = int64_t(out.snapshotCursor);
            const int64_t sinceMicros =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - out.snapshotTime).count();
            frame = std::min(handed - out.bufferFrames + sinceMicros * out.rate / 1000000, handed);
            break;
        }
    }
    out.lastHeard = std::max(out.lastHeard, uint64_t(std::max<int64_t>(frame, 0)));
    bool stalled = false;
    if (out.kind == ClockKind::Device && out.started)
        if (const char* why = outputLostReason(&stalled)) fallBackToSilentClock(why, stalled);
    return out.lastHeard;
}

}  // namespace

void musicUseSteppedClock() { out.steppedRequested = true; }

void musicSetSteppedTime(int ms) { out.steppedMs = ms; }

// Opens the audio output. Without a device (no sound card, no sound server)
// it says so once and the music's clock runs silently in real time.
bool musicInit(int rate) {
    out.rate = rate;
    if (out.steppedRequested) {
        out.kind = ClockKind::Stepped;
        return true;
    }
    snd_lib_error_set_handler(quietAlsa);
    out.kind = ClockKind::Device;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        out.sdlAudioUp = true;
        SDL_AudioSpec want{}, have{};
        want.freq = rate;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = kDeviceBufferFrames;
        want.callback = fillDevice;
        out.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (out.device) {
            out.bufferFrames = have.samples;
            return true;
        }
    }
    std::fprintf(stderr, "tessera: no audio output (%s); the music plays silently on a real-time clock\n",
                 SDL_GetError());
    if (out.sdlAudioUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out.sdlAudioUp = false;
    out.kind = ClockKind::Silent;
    return false;
}

bool musicFileIsPlayable(const char* path, std::string* reason) {
    mpg123_handle* handle = openDecoder(path, reason);
    if (!handle) return false;
    mpg123_delete(handle);
    return true;
}

// Opens the stream and starts decoding it in the background; returns at
// once. On failure says why on stderr and returns null.
MusicStream* musicOpen(const char* path) {
    std::string reason;
    mpg123_handle* handle = openDecoder(path, &reason);
    if (!handle) {
        std::fprintf(stderr, "tessera: cannot play \"%s\": %s\n", path, reason.c_str());
        return nullptr;
    }
    auto* stream = new MusicStream;
    stream->decoder = handle;
    stream->path = path;
    stream->thread = std::thread(decodeAll, stream);
    return stream;
}

void musicSetTime(MusicStream* stream, int ms) {
    if (!stream) return;
    const uint64_t frame = uint64_t(std::max(ms, 0)) * uint64_t(out.rate) / 1000;
    if (out.device) SDL_LockAudioDevice(out.device);
    out.startFrame = frame;
    out.cursor = frame;
    out.lastHeard = frame;
    if (out.device) SDL_UnlockAudioDevice(out.device);
}

void musicPlay(MusicStream* stream) {
    if (!stream) return;
    out.playing.store(stream, std::memory_order_release);
    out.started = true;
    out.silentStart = Clock::now();
    if (out.device) SDL_PauseAudioDevice(out.device, 0);
}

void musicEnableSpectrum() { out.spectrumOn = true; }

int musicGetTime(MusicStream* stream) {
    if (!stream) return 0;
    if (out.kind == ClockKind::Stepped) return out.steppedMs;
    return int(heardFrame() * 1000 / uint64_t(out.rate));
}

// The spectrum of the 1024 frames that end at the frame being heard. The
// stepped clock waits for the decoder to reach its position, so offline
// frames never see a half-decoded window.
const float* musicSpectrum() {
    MusicStream* stream = out.playing.load(std::memory_order_acquire);
    if (!out.spectrumOn || !stream) {
        std::fill(std::begin(out.spectrum), std::end(out.spectrum), 0.0f);
        return out.spectrum;
    }
    const uint64_t end = heardFrame();
    if (out.kind == ClockKind::Stepped) waitForDecoder(stream, end);
    readFrames(stream, int64_t(end) - kSpectrumWindow, kSpectrumWindow, out.window);
    computeSpectrum(out.window, out.spectrum);
    return out.spectrum;
}

long long musicDecodedFrames(MusicStream* stream) {
    if (!stream) return 0;
    waitForDecoder(stream, UINT64_MAX);
    return (long long)stream->frames.load(std::memory_order_acquire);
}

void musicReadFrames(MusicStream* stream, long long first, long long count, int16_t* dst) {
    if (!stream || count <= 0) return;
    waitForDecoder(stream, uint64_t(std::max(first + count, 0LL)));
    readFrames(stream, first, size_t(count), dst);
}

// Stops playback and the decoder, then frees the stream. Safe with null.
void musicClose(MusicStream* stream) {
    if (!stream) return;
    if (out.device) SDL_LockAudioDevice(out.device);
    if (out.playing.load() == stream) out.playing.store(nullptr);
    if (out.device) SDL_UnlockAudioDevice(out.device);
    stream->stopDecoding.store(true);
    if (stream->thread.joinable()) stream->thread.join();
    mpg123_delete(stream->decoder);
    for (auto& chunk : stream->chunks) delete[] chunk.load();
    delete stream;
}

// A device that stalled is left open: closing waits for SDL's audio thread,
// which may be stuck in the hung server for good, and the process is about
// to end anyway.
void musicShutdown() {
    if (out.deviceStalled) return;
    if (out.device) SDL_CloseAudioDevice(out.device);
    out.device = 0;
    if (out.sdlAudioUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out.sdlAudioUp = false;
}
