// music.cpp -- the music stream on libmpg123, SDL2 audio and the spectrum.
//
// A background thread decodes the whole file into memory as 16-bit stereo
// (the decode of a four-minute piece takes a fraction of a second, and the
// caller never waits for it). The audio callback plays from that memory, and
// the spectrum reads the same samples at the position being heard. Three
// clocks share one interface: the audio device's (frames handed to the
// device, less the buffer it holds), a silent real-time clock when there is
// no device, and the stepped clock that offline rendering sets by hand.
//
// When the output goes away mid-run, the silent clock takes over and a
// helper thread (never the caller's) reopens the audio driver at most once a
// second; the device it gets starts at the silent clock's position, and the
// device clock takes over from there.
#include "audio/music.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <mpg123.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
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
// The stall is measured on time the program ran: a gap between two looks
// at the clock counts for at most this much, so a process that was stopped
// and continued (Ctrl+Z, a debugger, SIGSTOP) is not taken for a hung
// device before its audio thread has had a chance to run again.
constexpr auto kStallStep = std::chrono::milliseconds(100);
// After a loss: how often the helper tries to open an output again, and how
// long it waits for a device it opened to start taking samples (a sound
// server that has just started may take a second or two).
constexpr auto kReopenEvery = std::chrono::milliseconds(1000);
// How long the end of the run waits for a reopen attempt under way (one
// inside a hung sound server never returns).
constexpr auto kShutdownWait = std::chrono::milliseconds(500);

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

// The output side and the clock. The audio callback runs wholly under
// `lock`, which guards `cursor`, the snapshot and the hand-over after a
// reopen; the main thread reads them under it. While a reopen is under way
// (`reopening`) the helper thread alone calls SDL's audio functions.
struct MusicOutput {
    ClockKind kind = ClockKind::Device;
    bool steppedRequested = false;
    bool sdlAudioUp = false;
    std::string driver;  // the audio driver SDL picked, reopened after a loss
    SDL_AudioDeviceID device = 0;
    int rate = kMusicRate;
    int bufferFrames = kDeviceBufferFrames;

    std::atomic<MusicStream*> playing{nullptr};
    std::mutex lock;
    uint64_t cursor = 0;  // frames handed to the device
    uint64_t snapshotCursor = 0;
    Clock::time_point snapshotTime{};
    bool snapshotValid = false;
    uint64_t callbacks = 0;
    // A reopened device: the callbacks of `generation` only count; the first
    // hands silence, the second (the device really takes samples) starts
    // the music at the silent clock's position and sets `resumed`.
    uint64_t generation = 0;
    int primingCalls = 0;
    bool resumed = false;
    uint64_t silentFrom = 0;  // the silent clock: frame at silentStart
    Clock::time_point silentStart{};

    uint64_t startFrame = 0;  // musicSetTime, and where a device took over
    bool started = false;
    bool deviceStalled = false;  // lost without a word from SDL: do not wait on it
    bool reopening = false;      // main thread: lost, the helper looks for an output
    int steppedMs = 0;
    uint64_t lastHeard = 0;  // keeps the clock monotonic
    // The stall watch (main thread): callbacks seen, when, how long without.
    uint64_t watchedCallbacks = 0;
    Clock::time_point watchedAt{};
    Clock::duration unfed{};

    bool spectrumOn = false;
    float spectrum[kSpectrumBins] = {};
    int16_t window[kSpectrumWindow * 2] = {};
};

MusicOutput out;

// The reopen helper, started at the first loss and kept for the run. It is
// allocated once and never freed: a helper stuck in a hung sound server is
// left running when the process ends, and must find this still in place.
struct Reopener {
    std::mutex lock;
    std::condition_variable wake;
    std::thread thread;
    bool wanted = false;  // the main thread lost its output
    bool stop = false;    // the run is ending
    bool busy = false;    // inside SDL
};
Reopener* reopener = nullptr;

// alsa-lib prints its own errors (one per device it tries) when there is no
// sound card; our one line says what matters.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Copies frames [first, first + count) into dst, zeros where nothing has
// been decoded (before 0, at or past `decoded`, the caller's one reading of
// the decoded length).
void readFrames(const MusicStream* stream, int64_t first, size_t count, int16_t* dst, uint64_t decoded) {
    const int64_t available = int64_t(decoded);
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
// ignored, and the damaged file plays untrimmed. A path that is plainly no
// music (a directory, an empty file) is told in words: the decoder would only
// say that it cannot read the stream.
mpg123_handle* openDecoder(const char* path, std::string* reason) {
    struct stat info {};
    if (stat(path, &info) == 0 && (S_ISDIR(info.st_mode) || info.st_size == 0)) {
        *reason = S_ISDIR(info.st_mode) ? "it is a directory" : "the file is empty (0 bytes)";
        return nullptr;
    }
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

// The position of the silent clock now (caller holds out.lock once the
// music plays).
uint64_t silentFrame(Clock::time_point now) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now - out.silentStart).count();
    return out.silentFrom + uint64_t(std::max<int64_t>(micros, 0)) * uint64_t(out.rate) / 1000000;
}

// The audio thread: hands the device the next frames of the music, silence
// past its end (the clock keeps running on it), and notes when it did. The
// decoded length is read once: copying below one reading and advancing by
// another would replay the frames the decoder published in between. A
// reopened device first hands silence until it asks a second time (a server
// that has just started may hold the first buffer for a while); then the
// music goes on from the silent clock's position at that moment.
void fillDevice(void* userdata, Uint8* bytes, int length) {
    auto* dst = reinterpret_cast<int16_t*>(bytes);
    const size_t count = size_t(length) / 4;
    std::lock_guard lock(out.lock);
    MusicStream* stream = out.playing.load(std::memory_order_acquire);
    const bool current = uint64_t(uintptr_t(userdata)) == out.generation;
    if (!stream || !current || out.primingCalls == 1) {
        std::memset(bytes, 0, size_t(length));
        if (stream && current) out.primingCalls = 2;
        return;
    }
    const Clock::time_point now = Clock::now();
    if (out.primingCalls == 2) {
        out.primingCalls = 0;
        out.cursor = silentFrame(now);
        out.startFrame = out.cursor;
        out.resumed = true;
    }
    const bool finished = stream->finished.load(std::memory_order_acquire);
    const uint64_t available = stream->frames.load(std::memory_order_acquire);
    readFrames(stream, int64_t(out.cursor), count, dst, available);
    // While the decoder is behind (it never is in practice), wait for it
    // rather than let the clock run over music that was not heard.
    const uint64_t advance =
        finished ? count : std::min<uint64_t>(count, available > out.cursor ? available - out.cursor : 0);
    out.cursor += advance;
    out.snapshotCursor = out.cursor;
    out.snapshotTime = now;
    out.snapshotValid = true;
    ++out.callbacks;
}

// Opens the default device of SDL's audio, stamped with its generation so
// that callbacks of a device given up on cannot touch the music. Returns 0
// on failure (SDL_GetError says why).
SDL_AudioDeviceID openDevice(uint64_t generation) {
    SDL_AudioSpec want{}, have{};
    want.freq = out.rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kDeviceBufferFrames;
    want.callback = fillDevice;
    want.userdata = reinterpret_cast<void*>(uintptr_t(generation));
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    std::lock_guard lock(out.lock);
    if (device) out.bufferFrames = have.samples;
    return device;
}

// Helper thread, one reopen attempt: restarts SDL's audio driver (a sound
// server that went away leaves SDL's connection to it dead, and closing a
// device that hung waits for it here, not in the frame loop), opens a
// device and waits until it takes samples from the silent clock's position.
// True once the music plays on it.
bool reopenOutput() {
    if (out.sdlAudioUp) SDL_AudioQuit();
    out.device = 0;
    out.deviceStalled = false;
    out.sdlAudioUp = SDL_AudioInit(out.driver.c_str()) == 0;
    if (!out.sdlAudioUp) return false;
    uint64_t generation = 0;
    {
        std::lock_guard lock(out.lock);
        generation = ++out.generation;
        out.primingCalls = 1;
        out.resumed = false;
    }
    out.device = openDevice(generation);
    if (!out.device) return false;
    SDL_PauseAudioDevice(out.device, 0);
    const Clock::time_point opened = Clock::now();
    for (;;) {
        const bool lost = SDL_GetAudioDeviceStatus(out.device) == SDL_AUDIO_STOPPED;
        {
            // Resumed (the main thread may already have taken it over and
            // cleared `resumed`: the callback's own state tells).
            std::lock_guard lock(out.lock);
            if (out.primingCalls == 0) return true;
            // Given up on: its callbacks from now on hand silence and count
            // for nothing. One that never started may hang in its server:
            // only the next attempt closes it, here, never the end of the run.
            if (lost || Clock::now() - opened > kDeviceStartStall) {
                ++out.generation;
                out.deviceStalled = !lost;
                return false;
            }
        }
        std::unique_lock lock(reopener->lock);
        if (reopener->wake.wait_for(lock, std::chrono::milliseconds(20), [] { return reopener->stop; })) return false;
    }
}

// The helper thread: whenever the main thread has lost its output, tries to
// open one again, at most once a second, until one plays or the run ends.
void reopenLoop() {
    Clock::time_point next = Clock::now();
    std::unique_lock lock(reopener->lock);
    for (;;) {
        reopener->wake.wait(lock, [] { return reopener->stop || reopener->wanted; });
        if (reopener->stop) return;
        if (reopener->wake.wait_until(lock, next, [] { return reopener->stop; })) return;
        next = Clock::now() + kReopenEvery;
        reopener->busy = true;
        lock.unlock();
        const bool playing = reopenOutput();
        lock.lock();
        reopener->busy = false;
        if (playing) reopener->wanted = false;
        reopener->wake.notify_all();
    }
}

// Main thread, while the device clock runs: why the output has gone away,
// or null while it plays. SDL reports a device or sound server that
// disappears (a restarted server, an unplugged headset) as stopped; a
// server that hangs only shows as callbacks that stop coming, counted on
// time the program ran (see kStallStep).
const char* outputLostReason(bool* stalled) {
    *stalled = false;
    if (SDL_GetAudioDeviceStatus(out.device) == SDL_AUDIO_STOPPED) return "the device was disconnected";
    const Clock::time_point now = Clock::now();
    const auto step = std::min<Clock::duration>(now - out.watchedAt, kStallStep);
    out.watchedAt = now;
    std::lock_guard lock(out.lock);
    if (out.callbacks != out.watchedCallbacks) {
        out.watchedCallbacks = out.callbacks;
        out.unfed = {};
    } else {
        out.unfed += step;
    }
    const bool settled = out.snapshotValid && out.snapshotCursor >= out.startFrame + uint64_t(out.rate / 2);
    *stalled = out.unfed > (settled ? kDeviceStall : kDeviceStartStall);
    return *stalled ? "it stopped taking samples" : nullptr;
}

// Once the output is gone the clock runs on in real time from the position
// it had reached, as it does when there is no device at all, so the demo
// keeps moving and still ends on time; the helper thread looks for an output
// meanwhile. Until it finds one the main thread leaves SDL's audio alone.
void fallBackToSilentClock(const char* why, bool stalled) {
    std::fprintf(stderr,
                 "tessera: the audio output went away (%s); the music plays on silently on a real-time clock "
                 "until an output opens again\n",
                 why);
    {
        std::lock_guard lock(out.lock);
        ++out.generation;  // the lost device's callbacks, if any come, count for nothing
        out.silentFrom = out.lastHeard;
        out.silentStart = Clock::now();
    }
    out.deviceStalled = stalled;
    out.kind = ClockKind::Silent;
    out.reopening = true;
    if (!reopener) {
        reopener = new Reopener;
        reopener->thread = std::thread(reopenLoop);
    }
    std::lock_guard lock(reopener->lock);
    reopener->wanted = true;
    reopener->wake.notify_all();
}

// Main thread, while the helper looks for an output: once a device plays
// from the silent clock's position, its clock takes over from there.
void takeBackDevice() {
    uint64_t from = 0;
    {
        std::lock_guard lock(out.lock);
        if (!out.resumed) return;
        out.resumed = false;
        out.watchedCallbacks = out.callbacks;
        from = out.startFrame;
    }
    out.reopening = false;
    out.kind = ClockKind::Device;
    out.watchedAt = Clock::now();
    out.unfed = {};
    std::fprintf(stderr, "tessera: the audio output is back; the music plays again from %.1f s\n",
                 double(from) / out.rate);
}

// The frame being heard now. The device's clock: the frames handed over at
// the last callback, less the buffer the device still holds, plus the time
// since then, never beyond what was handed over and never going back.
uint64_t heardFrame() {
    int64_t frame = 0;
    if (out.kind == ClockKind::Silent && out.reopening) takeBackDevice();
    switch (out.kind) {
        case ClockKind::Stepped:
            frame = int64_t(out.steppedMs) * out.rate / 1000;
            return uint64_t(std::max<int64_t>(frame, 0));
        case ClockKind::Silent: {
            if (!out.started) return out.startFrame;
            std::lock_guard lock(out.lock);
            frame = int64_t(silentFrame(Clock::now()));
            break;
        }
        case ClockKind::Device: {
            std::lock_guard lock(out.lock);
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
        out.driver = SDL_GetCurrentAudioDriver();
        out.device = openDevice(0);
        if (out.device) return true;
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
    std::lock_guard lock(out.lock);
    out.startFrame = frame;
    out.silentFrom = frame;
    out.cursor = frame;
    out.lastHeard = frame;
}

void musicPlay(MusicStream* stream) {
    if (!stream) return;
    {
        std::lock_guard lock(out.lock);
        out.playing.store(stream, std::memory_order_release);
        out.started = true;
        out.silentStart = Clock::now();
        out.watchedAt = out.silentStart;
    }
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
    readFrames(stream, int64_t(end) - kSpectrumWindow, kSpectrumWindow, out.window,
               stream->frames.load(std::memory_order_acquire));
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
    readFrames(stream, first, size_t(count), dst, stream->frames.load(std::memory_order_acquire));
}

// Stops playback and the decoder, then frees the stream. Safe with null.
void musicClose(MusicStream* stream) {
    if (!stream) return;
    {
        std::lock_guard lock(out.lock);  // no callback is using it after this
        if (out.playing.load() == stream) out.playing.store(nullptr);
    }
    stream->stopDecoding.store(true);
    if (stream->thread.joinable()) stream->thread.join();
    mpg123_delete(stream->decoder);
    for (auto& chunk : stream->chunks) delete[] chunk.load();
    delete stream;
}

// Ends the reopen helper, if a loss started one, and closes the output. A
// device that stalled is left open, and so is SDL's audio while the helper
// is still inside it after a short wait: closing waits for SDL's audio
// thread, which may be stuck in the hung server for good, and the process
// is about to end anyway.
void musicShutdown() {
    if (reopener) {
        std::unique_lock lock(reopener->lock);
        reopener->stop = true;
        reopener->wake.notify_all();
        if (!reopener->wake.wait_for(lock, kShutdownWait, [] { return !reopener->busy; })) {
            reopener->thread.detach();
            return;
        }
        lock.unlock();
        reopener->thread.join();
    }
    if (out.deviceStalled) return;
    if (out.device) SDL_CloseAudioDevice(out.device);
    out.device = 0;
    if (out.sdlAudioUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out.sdlAudioUp = false;
}
